#include "worker_win.h"

#include "install_script.h"
#include "protocol.h"
#include "protocol_win.h"

#include <cstring>
#include <string>

namespace {

// The script file's name depends only on the process id, so a retry's worker would write the
// same file that the previous attempt's worker, still waiting for its child, is about to
// delete. Each worker holds this lock from before it writes the file until after it has deleted
// it. Only worker threads take it; the UI thread never waits for a worker.
SRWLOCK scriptFileLock = SRWLOCK_INIT;

// The temporary folder (ending in a backslash) and in it "orvan-install-", the process id and
// ".ps1"; false when the temporary path is not available or the script path would not fit,
// rather than using a cut path.
bool makeScriptPath(std::wstring& tempFolder, wchar_t (&scriptPath)[kPathCapacity])
{
    wchar_t tempPath[kPathCapacity];
    DWORD length = GetTempPathW(kPathCapacity, tempPath);
    if (length == 0 || length >= kPathCapacity)
        return false;
    tempFolder.assign(tempPath, length);
    std::wstring path = tempFolder;
    path += L"orvan-install-";
    path += std::to_wstring(GetCurrentProcessId());
    path += L".ps1";
    if (path.size() >= kPathCapacity)
        return false;
    path.copy(scriptPath, path.size());
    scriptPath[path.size()] = L'\0';
    return true;
}

// Windows PowerShell by its full path in the system folder. Given only a program name,
// CreateProcessW would look in the installer's own folder and the current folder first, and a
// powershell.exe dropped into Downloads beside the installer would run in its place.
bool systemPowerShellPath(std::wstring& program)
{
    wchar_t systemFolder[kPathCapacity];
    UINT length = GetSystemDirectoryW(systemFolder, kPathCapacity);
    if (length == 0 || length >= kPathCapacity)
        return false;
    program.assign(systemFolder, length);
    program += L"\\WindowsPowerShell\\v1.0\\powershell.exe";
    return true;
}

// Writes the script and returns a handle that keeps it as written until PowerShell has run it:
// read access only, shared for reading only, so nobody can write, rename, replace or delete the
// file while the handle is open. TEMP is the user's even when the installer runs elevated.
// INVALID_HANDLE_VALUE when the file could not be written or is not what was written.
HANDLE writeScriptFile(const wchar_t* scriptPath)
{
    // Whatever lies at the path (a file planted there, a link to somewhere else) goes, or the
    // attempt ends: a new file is created, nothing is written through or run that we did not
    // write. A read-only file cannot be deleted, so it stops the attempt.
    DeleteFileW(scriptPath);
    HANDLE file = CreateFileW(scriptPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, kInstallScript, static_cast<DWORD>(kInstallScriptSize), &written, nullptr);
    BOOL closed = CloseHandle(file);
    if (!wrote || !closed || written != kInstallScriptSize) {
        DeleteFileW(scriptPath); // a partial script (a full disk) must not stay behind
        return INVALID_HANDLE_VALUE;
    }
    // Between the close and this open another process could have put a file of its own there,
    // so the content read through the guarding handle is what counts. A link put in place is
    // opened as itself, not followed, and reads as no script.
    HANDLE guard = CreateFileW(scriptPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (guard == INVALID_HANDLE_VALUE)
        return INVALID_HANDLE_VALUE;
    std::string content(kInstallScriptSize + 1, '\0');
    DWORD got = 0;
    DWORD total = 0;
    while (total < content.size() &&
           ReadFile(guard, content.data() + total, static_cast<DWORD>(content.size() - total), &got, nullptr) && got > 0)
        total += got;
    if (total != kInstallScriptSize || std::memcmp(content.data(), kInstallScript, kInstallScriptSize) != 0) {
        CloseHandle(guard);
        return INVALID_HANDLE_VALUE;
    }
    return guard;
}

// Reads the child's output to its end and dispatches every complete line; true when one of
// them reported the attempt's outcome.
bool relayOutput(HANDLE readEnd)
{
    LineFramer framer;
    FailureClass failure = FailureClass::other;
    bool outcome = false;
    char buffer[kReadChunkSize];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, kReadChunkSize, &got, nullptr) && got > 0) {
        feedScriptBytes(framer, buffer, got, [&](std::string_view line) {
            UINT posted = dispatchScriptLine(line, failure);
            if (posted == WM_INSTALL_DONE || posted == WM_INSTALL_ERROR)
                outcome = true;
        });
    }
    discardCarry(framer); // an unterminated last line is never dispatched
    return outcome;
}

// Everything but the final report; returns the error to post, or nothing when the script's
// own outcome line has been posted.
const wchar_t* runAttempt()
{
    std::wstring tempFolder;
    wchar_t scriptPath[kPathCapacity];
    if (!makeScriptPath(tempFolder, scriptPath))
        return L"Der tempor\u00E4re Ordner ist nicht verf\u00FCgbar.";

    std::wstring program;
    if (!systemPowerShellPath(program))
        return L"PowerShell konnte nicht gestartet werden.";

    HANDLE scriptGuard = writeScriptFile(scriptPath);
    if (scriptGuard == INVALID_HANDLE_VALUE)
        return L"Das Installationsskript konnte nicht in den tempor\u00E4ren Ordner geschrieben werden.";

    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        CloseHandle(scriptGuard);
        DeleteFileW(scriptPath);
        return L"PowerShell konnte nicht gestartet werden.";
    }
    // Only the write end may pass to the child: an inherited read end would keep the pipe open.
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = L"powershell -NoProfile -ExecutionPolicy Bypass -File \"";
    commandLine += scriptPath;
    commandLine += L"\"";
    std::wstring writable = commandLine; // CreateProcessW may write into its command line

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION child = {};

    // The temporary folder as PowerShell's current folder, and through it the uninstaller's
    // parent's: the installer's own folder is usually Downloads, where Windows would look for a
    // DLL that a started program lacks.
    if (!CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        tempFolder.c_str(), &startup, &child)) {
        // The script file stays; the next attempt replaces it.
        CloseHandle(scriptGuard);
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return L"PowerShell konnte nicht gestartet werden.";
    }

    // The pipe ends only when every write end is closed: from here on only the child (and what
    // it starts) holds one.
    CloseHandle(writeEnd);
    bool outcome = relayOutput(readEnd);
    CloseHandle(readEnd);

    WaitForSingleObject(child.hProcess, INFINITE);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(scriptGuard);
    DeleteFileW(scriptPath);

    // A child that ended without an outcome line (the script blocked by policy, the file not
    // written, PowerShell crashed) would otherwise leave the window installing for ever.
    return outcome ? nullptr : L"Die Installation wurde unerwartet beendet.";
}

// One installation at a time for the user, whichever installer process runs it: the named
// mutex exists while one does. PowerShell does not inherit it: a script that goes on after its
// installer was closed is kept apart from the next one by the script's own lock on its work
// folders, and a mutex it held would leave a closed installer "running" until the script ends.
// False when another one holds it; a mutex that cannot be made at all does not stop the
// installation.
bool claimInstallation(HANDLE& claim)
{
    claim = CreateMutexW(nullptr, FALSE, kInstallationMutexName);
    if (claim != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        claim = nullptr;
        return false;
    }
    return true;
}

} // namespace

DWORD WINAPI installWorker(LPVOID)
{
    AcquireSRWLockExclusive(&scriptFileLock);
    HANDLE claim = nullptr;
    bool claimed = claimInstallation(claim);
    const wchar_t* error = claimed ? runAttempt() : nullptr;
    if (claim != nullptr)
        CloseHandle(claim);
    ReleaseSRWLockExclusive(&scriptFileLock);
    if (!claimed)
        postInstallText(WM_INSTALL_ERROR, static_cast<WPARAM>(FailureClass::running),
                        L"Eine andere Installation des ORVAN Launchers l\u00E4uft bereits. Bitte warten, bis sie "
                        L"beendet ist, und dann nochmal versuchen.");
    else if (error != nullptr)
        postInstallText(WM_INSTALL_ERROR, 0, error);
    return 0;
}

void waitForInstallWorkers()
{
    AcquireSRWLockExclusive(&scriptFileLock);
    ReleaseSRWLockExclusive(&scriptFileLock);
}

bool startInstallWorker()
{
    HANDLE thread = CreateThread(nullptr, 0, installWorker, nullptr, 0, nullptr);
    if (thread == nullptr)
        return false;
    CloseHandle(thread); // the worker runs detached
    return true;
}
