// The removal: only what the packages delivered, checked whole before anything goes, then the
// shortcut, the entry, and a copy of this program in the temporary folder that removes the
// program itself once it has exited.
#include "uninstall/uninstall_win.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>

namespace {

// A folder that cannot be looked at is no link; the files below it cannot be looked at either,
// and each is reported as such.
bool folderIsLink(const std::wstring& relative)
{
    return isReparsePoint(
        attributesOf(relative.empty() ? uninstallRun.installFolder : joinPath(uninstallRun.installFolder, relative)));
}

std::wstring desktopShortcut()
{
    wchar_t desktop[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop)))
        return {};
    return joinPath(desktop, wideName(kShortcutName));
}

// The shortcut's target as the shell's ShellLink object reads it; empty when it cannot be loaded.
std::wstring shortcutTarget(const std::wstring& file)
{
    std::wstring target;
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        wchar_t path[MAX_PATH] = L"";
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
            SUCCEEDED(persist->Load(file.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        if (persist)
            persist->Release();
        link->Release();
    }
    return target;
}

// False when the shortcut is this installation's and stayed.
bool removeShortcut(std::wstring& file)
{
    file = desktopShortcut();
    if (file.empty() || (attributesOf(file) == INVALID_FILE_ATTRIBUTES && isMissingError(GetLastError())))
        return true;
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = true;
    // A shortcut of the same name that the user pointed elsewhere is theirs.
    if (isInsideFolder(shortcutTarget(file), uninstallRun.installFolder))
        ok = DeleteFileW(file.c_str()) || isMissingError(GetLastError());
    if (SUCCEEDED(com))
        CoUninitialize();
    return ok;
}

enum class Hold { free, inUse, noAccess };

// Held when another process has it: opening for writing with no sharing is what Windows (and
// Wine) deny for a running program's file or a loaded DLL, with a sharing or lock violation; an
// open for reading is granted there. Any other refusal is the user's lack of the right. A
// read-only file cannot be opened for writing at all, so its flag is lifted for the check and put
// back, as nothing may change before every file has passed; a link's flag is its own.
Hold holdOn(const std::wstring& path, DWORD attributes)
{
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !setOwnAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY))
        return Hold::noAccess;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (readOnly)
        setOwnAttributes(path, attributes);
    if (file != INVALID_HANDLE_VALUE)
        return Hold::free;
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Hold::inUse : Hold::noAccess;
}

bool deleteFile(const std::wstring& path)
{
    if (DeleteFileW(path.c_str()))
        return true;
    // Gone already: the record may name one file twice in letter cases that Windows takes as one.
    if (isMissingError(GetLastError()))
        return true;
    DWORD attributes = attributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        setOwnAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY);
        return DeleteFileW(path.c_str());
    }
    return false;
}

// Whether the folder holds anything besides what the finishing copy removes.
bool folderKeepsOthers(const std::vector<std::wstring>& finishing)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(joinPath(uninstallRun.installFolder, L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool others = false;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L".." &&
            std::none_of(finishing.begin(), finishing.end(), [&](const std::wstring& own) { return sameName(name, own); }))
            others = true;
    } while (!others && FindNextFileW(search, &found));
    FindClose(search);
    return others;
}

// The copy in the temporary folder, started with an inheritable handle of this process so that
// it waits for exactly this process, whatever ids the system hands out meanwhile.
bool startFinishingCopy()
{
    wchar_t temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH)
        return false;
    // Copies that earlier removals left (see finishRemoval) go now; one still running stays.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((std::wstring(temp) + L"orvan-deinstallieren-*.exe").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileW((std::wstring(temp) + found.cFileName).c_str());
        while (FindNextFileW(search, &found));
        FindClose(search);
    }
    std::wstring copy = std::wstring(temp) + L"orvan-deinstallieren-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    if (!CopyFileW(uninstallRun.programPath.c_str(), copy.c_str(), FALSE))
        return false;
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0)) {
        DeleteFileW(copy.c_str());
        return false;
    }
    std::wstring line = quotedPath(copy) + L" " +
                        finishArguments(reinterpret_cast<std::uintptr_t>(self), uninstallRun.installFolder,
                                        !uninstallRun.call.silent);
    // The copy inherits that one handle and nothing else of this process: a caller that reads
    // this program's output to its end, or waits for every handle of a pipe to close, must not
    // wait for the copy too.
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<unsigned char> listBytes(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.data());
    bool listed = listSize != 0 && InitializeProcThreadAttributeList(list, 1, 0, &listSize) &&
                  UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &self, sizeof self, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = list;
    PROCESS_INFORMATION process{};
    // Its working folder is the temporary one: a process inside the install folder would keep
    // that folder from being removed. It leaves this process's job where the job lets it, so a
    // caller that ends its job when this program has exited does not end the copy with it; a job
    // that forbids that refuses the start, and then the copy stays in it.
    bool started = false;
    if (listed) {
        for (DWORD breakaway : {DWORD(CREATE_BREAKAWAY_FROM_JOB), DWORD(0)}) {
            started = CreateProcessW(copy.c_str(), line.data(), nullptr, nullptr, TRUE,
                                     EXTENDED_STARTUPINFO_PRESENT | breakaway, nullptr, temp, &startup.StartupInfo,
                                     &process);
            if (started)
                break;
        }
        DeleteProcThreadAttributeList(list);
    }
    CloseHandle(self);
    if (!started) {
        DeleteFileW(copy.c_str());
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// The entry goes only when it describes this installation: a stale copy of the folder elsewhere
// must not take the live installation out of the list. Empty when it is gone (or was never
// there); otherwise the line for the closing message.
std::wstring removeEntryOfThisFolder()
{
    std::wstring keyPath(kUninstallKey);
    wchar_t location[MAX_PATH * 4];
    DWORD size = sizeof location;
    // An entry without a readable location gives no sign of belonging elsewhere.
    if (RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), L"InstallLocation", RRF_RT_REG_SZ, nullptr, location, &size) ==
            ERROR_SUCCESS &&
        !sameName(location, uninstallRun.installFolder))
        return text::entryOfOtherFolder(location);
    LSTATUS gone = RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
    return gone == ERROR_SUCCESS || gone == ERROR_FILE_NOT_FOUND ? std::wstring() : text::entryKept();
}

} // namespace

int removeInstallation()
{
    std::wstring problem = installFolderProblem(uninstallRun.installFolder);
    if (!problem.empty()) {
        showMessage(problem, MB_ICONERROR);
        return kExitBadCall;
    }
    // Checked before anything inside is read: through a link, every name of the record would
    // reach whatever files of those names lie where it points.
    LinkGuard guard{folderIsLink, {}};
    if (!guard.folderReachable({})) {
        showMessage(text::folderIsLink(uninstallRun.installFolder, linkTarget(uninstallRun.installFolder)), MB_ICONWARNING);
        return kExitFolderIsLink;
    }
    std::wstring recordPath = joinPath(uninstallRun.installFolder, wideName(kRecordName));
    std::string bytes;
    std::vector<RecordEntry> record;
    ReadOutcome outcome = readWholeFile(recordPath, bytes);
    if (outcome == ReadOutcome::failed || (outcome == ReadOutcome::ok && !parseRecord(bytes, record))) {
        showMessage(text::badRecord(recordPath), MB_ICONERROR);
        return kExitBadRecord;
    }

    // Only a plain yes removes anything; a dialog that could not be shown is no yes.
    int answer = showMessage(text::confirm(uninstallRun.installFolder), MB_YESNO | MB_ICONQUESTION);
    if (!uninstallRun.call.silent && answer != IDYES)
        return kExitCancelled;

    // Never registered, or a record that names nothing: the plan holds what every installation has.
    RemovalPlan plan = planRemoval(record);
    std::vector<std::wstring> present, failed;
    for (const std::wstring& relative : plan.files) {
        std::wstring path = joinPath(uninstallRun.installFolder, relative);
        if (!guard.reachable(relative)) {
            failed.push_back(text::behindLink(relative));
            continue;
        }
        DWORD attributes = attributesOf(path);
        if (attributes == INVALID_FILE_ATTRIBUTES && !isMissingError(GetLastError()))
            failed.push_back(text::notReadable(relative));
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        present.push_back(relative);
    }
    // All or nothing: one file in use, or one the user may not change, and the installation stays
    // as it is.
    for (const std::wstring& relative : present) {
        std::wstring path = joinPath(uninstallRun.installFolder, relative);
        Hold hold = holdOn(path, attributesOf(path));
        if (hold != Hold::free) {
            showMessage(hold == Hold::inUse ? text::inUse(relative) : text::noAccess(relative), MB_ICONWARNING);
            return kExitInUse;
        }
    }

    for (const std::wstring& relative : present)
        if (!deleteFile(joinPath(uninstallRun.installFolder, relative)))
            failed.push_back(text::notDeleted(relative));
    for (const std::wstring& folder : plan.folders) {
        std::wstring path = joinPath(uninstallRun.installFolder, folder);
        if (guard.folderReachable(folder))
            RemoveDirectoryW(path.c_str()); // fails, as meant, while anything is left in it
    }
    std::wstring shortcut;
    if (!removeShortcut(shortcut))
        failed.push_back(text::shortcutKept(shortcut));
    std::wstring entry = removeEntryOfThisFolder();
    if (!entry.empty())
        failed.push_back(entry);

    bool kept = folderKeepsOthers(plan.finishing);
    if (!startFinishingCopy()) {
        failed.push_back(text::notDeleted(wideName(kUninstallerName)));
        kept = true;
    }
    showMessage(text::done(uninstallRun.installFolder, kept, plan.refused, failed), MB_ICONINFORMATION);
    return plan.refused.empty() && failed.empty() ? kExitDone : kExitIncomplete;
}

int finishRemoval()
{
    HANDLE original = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(uninstallRun.call.waitHandle));
    // As long as the original runs, its closing message still open included.
    WaitForSingleObject(original, INFINITE);
    CloseHandle(original);
    const std::wstring& folder = uninstallRun.installFolder;
    std::vector<std::wstring> failed;
    if (installFolderProblem(folder).empty() && !isReparsePoint(attributesOf(folder))) {
        std::wstring program = joinPath(folder, wideName(kUninstallerName));
        // The image of a process that has just ended may stay mapped for a moment.
        bool programGone = deleteFile(program);
        for (int attempt = 0; attempt < 100 && !programGone; ++attempt) {
            Sleep(50);
            programGone = deleteFile(program);
        }
        // The record goes only with the program: an uninstaller left without it would take the
        // next removal for one of an installation that was never registered.
        std::wstring record = joinPath(folder, wideName(kRecordName));
        if (!programGone)
            failed.push_back(text::notDeleted(wideName(kUninstallerName)));
        else if (!deleteFile(record))
            failed.push_back(text::notDeleted(wideName(kRecordName)));
        RemoveDirectoryW(folder.c_str());
    }
    // This copy cannot delete its own image while it runs; the system removes it with the next
    // start where the user may schedule that, and otherwise it stays in the temporary folder.
    MoveFileExW(uninstallRun.programPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (failed.empty())
        return kExitDone;
    // The original's closing message is gone by now; what stayed is said in a message of its own.
    uninstallRun.call.silent = !uninstallRun.call.report;
    showMessage(text::finishKept(folder, failed), MB_ICONWARNING);
    return kExitIncomplete;
}
