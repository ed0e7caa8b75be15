// powershell.exe for end-to-end runs under Wine: runs the installer's script with Linux pwsh and
// hands its output back to the installer as Windows PowerShell would, through standard output.
//
// Put it at the prefix's C:\windows\system32\WindowsPowerShell\v1.0\powershell.exe, where the
// installer starts "powershell -NoProfile -ExecutionPolicy Bypass -File <script>" from. It takes the script path after -File, maps it to
// its Linux path and runs, through /bin/sh,
//   pwsh -NoProfile -NonInteractive -File $ORVAN_RUN_SCRIPT -Script <script> >log 2>&1; echo $? >done
// Wine does not connect a Linux child to the Windows standard handles, and a FIFO opened from the
// Windows side hangs the prefix, so the output goes to a plain file that this program polls and
// copies to its own standard output byte for byte, as it grows. The one change to the stream: the
// path in a "@DONE " line is a Linux path and is given back in its Windows form (C:\...), since the
// installer opens it with the shell. Exit code: pwsh's.
//
// Configuration, all from the environment (Wine passes the Linux environment of `wine` on):
//   ORVAN_RUN_SCRIPT  Linux path of tests/support/run-script.ps1 (stands in for WScript.Shell); required
//   ORVAN_PWSH        Linux path of pwsh; default "pwsh" from PATH
//   ORVAN_E2E_HOME    Linux folder the script sees as HOME and USERPROFILE; TEMP is its Temp\ and
//                     the desktop its Desktop\ (both created); best inside the Wine drive, e.g.
//                     $WINEPREFIX/drive_c/e2e/home, so the installed launcher can be started by
//                     Wine. Default: the Windows user profile's Linux path.
//   ORVAN_E2E_CERT    Linux path of a CA file pwsh trusts in addition (SSL_CERT_FILE); optional
// The log and done files are orvan-relay-<pid>.log/.done in that Temp folder; they stay for a look
// after a failed run, and a harness waits for the .done files before it clears the folder.
#include "tests/common/win_files_win.h"

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

using UnixName = char*(CDECL*)(const wchar_t*);
using DosName = wchar_t*(CDECL*)(const char*);
using Spawn = LONG(CDECL*)(char* const argv[], int wait);

const char kDonePrefix[] = "@DONE ";
constexpr std::size_t kDonePrefixSize = sizeof kDonePrefix - 1;

std::wstring wide(const std::string& text)
{
    if (text.empty())
        return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

FARPROC wineExport(const wchar_t* module, const char* name)
{
    return GetProcAddress(GetModuleHandleW(module), name);
}

std::string unixPath(const std::wstring& windowsPath)
{
    auto toUnix = reinterpret_cast<UnixName>(reinterpret_cast<void*>(wineExport(L"kernel32.dll", "wine_get_unix_file_name")));
    if (toUnix == nullptr)
        return {};
    char* name = toUnix(windowsPath.c_str());
    if (name == nullptr)
        return {};
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// Empty when Wine cannot map the path.
std::string dosPath(const std::string& linuxPath)
{
    auto toDos = reinterpret_cast<DosName>(reinterpret_cast<void*>(wineExport(L"kernel32.dll", "wine_get_dos_file_name")));
    if (toDos == nullptr)
        return {};
    wchar_t* name = toDos(linuxPath.c_str());
    if (name == nullptr)
        return {};
    std::wstring result = name;
    HeapFree(GetProcessHeap(), 0, name);
    if (result.compare(0, 4, L"\\\\?\\") == 0)
        result.erase(0, 4);
    return utf8(result);
}

std::string shellQuoted(const std::string& text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void out(const std::string& bytes)
{
    HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    std::size_t at = 0;
    while (at < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written, nullptr) || written == 0)
            return;
        at += written;
    }
}

std::wstring scriptArgument()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring script;
    for (int i = 1; i + 1 < count; ++i)
        if (lstrcmpiW(args[i], L"-File") == 0)
            script = args[i + 1];
    LocalFree(args);
    return script;
}

// Everything the relay has read and not yet written: only a line that is, or may still become, a
// "@DONE " line is held back until its line feed arrives.
struct Relay {
    std::string pending;
    bool atLineStart = true;
};

std::string doneLineInWindowsForm(const std::string& line)
{
    std::size_t end = line.size() - 1; // at the line feed
    if (end > kDonePrefixSize && line[end - 1] == '\r')
        --end;
    std::string path = dosPath(line.substr(kDonePrefixSize, end - kDonePrefixSize));
    if (path.empty())
        return line;
    return line.substr(0, kDonePrefixSize) + path + line.substr(end);
}

void feed(Relay& relay, const char* data, std::size_t size)
{
    std::string passed;
    for (std::size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (!relay.pending.empty() || relay.atLineStart) {
            relay.pending += c;
            relay.atLineStart = false;
            bool mayBeDone = relay.pending.compare(0, std::min(relay.pending.size(), kDonePrefixSize), kDonePrefix,
                                                   std::min(relay.pending.size(), kDonePrefixSize)) == 0;
            if (c == '\n') {
                passed += relay.pending.size() > kDonePrefixSize && mayBeDone ? doneLineInWindowsForm(relay.pending)
                                                                                : relay.pending;
                relay.pending.clear();
                relay.atLineStart = true;
            } else if (!mayBeDone) {
                passed += relay.pending;
                relay.pending.clear();
            }
            continue;
        }
        passed += c;
        relay.atLineStart = c == '\n';
    }
    out(passed);
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Copies the log to standard output as it grows until the done file is there and the log is read
// to its end; returns the exit code written into the done file.
int relayUntilDone(const std::wstring& log, const std::wstring& done)
{
    Relay relay;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        // Taken before reading, so that the bytes written before the exit code are all read below.
        bool finished = exists(done);
        if (file == INVALID_HANDLE_VALUE)
            file = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        bool gotAny = false;
        DWORD got = 0;
        while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
               got > 0) {
            feed(relay, buffer.data(), got);
            gotAny = true;
        }
        if (finished && !gotAny)
            break;
        if (!gotAny)
            Sleep(10);
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    out(relay.pending); // an unterminated last line goes on as it is
    std::vector<char> code = readWholeFile(done);
    code.push_back('\0');
    return code.size() == 1 ? 1 : atoi(code.data());
}

} // namespace

int main()
{
    std::string runner = utf8(envText(L"ORVAN_RUN_SCRIPT"));
    std::string pwsh = utf8(envText(L"ORVAN_PWSH"));
    std::string home = utf8(envText(L"ORVAN_E2E_HOME"));
    std::string certificate = utf8(envText(L"ORVAN_E2E_CERT"));
    std::wstring script = scriptArgument();
    auto spawn = reinterpret_cast<Spawn>(reinterpret_cast<void*>(wineExport(L"ntdll.dll", "__wine_unix_spawnvp")));
    if (spawn == nullptr || runner.empty() || script.empty()) {
        out("powershell-Stellvertreter: braucht Wine, ORVAN_RUN_SCRIPT und -File <Skript>\n");
        return 2;
    }
    if (pwsh.empty())
        pwsh = "pwsh";
    if (home.empty())
        home = unixPath(envText(L"USERPROFILE"));

    std::string mkdirProgram = "/bin/mkdir", parents = "-p", desktop = home + "/Desktop", tempFolder = home + "/Temp";
    char* mkdirArgv[] = {mkdirProgram.data(), parents.data(), desktop.data(), tempFolder.data(), nullptr};
    spawn(mkdirArgv, 1);
    // Beside the script's own temporary files, so that a run leaves nothing outside its folders.
    std::string stem = home + "/Temp/orvan-relay-" + std::to_string(GetCurrentProcessId());
    std::string logUnix = stem + ".log";
    std::string doneUnix = stem + ".done";
    std::wstring log = wide(dosPath(logUnix));
    std::wstring done = wide(dosPath(doneUnix));
    if (log.empty() || done.empty()) {
        out("powershell-Stellvertreter: Wine kennt keinen Windows-Pfad fuer " + logUnix + "\n");
        return 2;
    }
    DeleteFileW(log.c_str());
    DeleteFileW(done.c_str());

    std::string command = "HOME=" + shellQuoted(home) + " USERPROFILE=" + shellQuoted(home) +
                          " TEMP=" + shellQuoted(home + "/Temp") +
                          (certificate.empty() ? std::string() : " SSL_CERT_FILE=" + shellQuoted(certificate)) + " " +
                          shellQuoted(pwsh) + " -NoProfile -NonInteractive -File " + shellQuoted(runner) +
                          " -Script " + shellQuoted(unixPath(script)) + " >" + shellQuoted(logUnix) +
                          " 2>&1; echo $? >" + shellQuoted(doneUnix);
    std::string shell = "/bin/sh", dashC = "-c";
    char* argv[] = {shell.data(), dashC.data(), command.data(), nullptr};
    spawn(argv, 0);
    return relayUntilDone(log, done);
}
