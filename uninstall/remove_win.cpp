// The removal: only what the packages delivered, checked whole before anything goes, then the
// shortcut, the entry, and a copy of this program in the temporary folder that removes the
// program itself once it has exited.
#include "uninstall/uninstall_win.h"

#include <objbase.h>
#include <shlobj.h>

#include <map>

namespace {

// Whether a relative path can be reached without passing a link or junction: each folder on
// the way is looked at once. A file that is itself a link is removed as the link.
struct LinkGuard {
    std::map<std::wstring, bool> folderSafe; // by folded relative folder

    bool folderReachable(const std::wstring& folder)
    {
        if (folder.empty())
            return true;
        auto [at, inserted] = folderSafe.emplace(foldCase(folder), true);
        if (inserted)
            at->second = folderReachable(parentFolder(folder)) &&
                         !isReparsePoint(attributesOf(joinPath(uninstallRun.installFolder, folder)));
        return at->second;
    }

    bool reachable(const std::wstring& relative) { return folderReachable(parentFolder(relative)); }
};

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

void removeShortcut()
{
    std::wstring file = desktopShortcut();
    if (file.empty() || attributesOf(file) == INVALID_FILE_ATTRIBUTES)
        return;
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A shortcut of the same name that the user pointed elsewhere is theirs.
    if (isInsideFolder(shortcutTarget(file), uninstallRun.installFolder))
        DeleteFileW(file.c_str());
    if (SUCCEEDED(com))
        CoUninitialize();
}

// Refused when another process holds it: opening for writing with no sharing is what Windows
// (and Wine) deny for a running program's file or a loaded DLL; an open for reading is granted
// there. A read-only file cannot be opened for writing at all, so its flag is lifted for the
// check and put back, as nothing may change before every file has passed.
bool canGo(const std::wstring& path, DWORD attributes)
{
    bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
        return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (readOnly)
        SetFileAttributesW(path.c_str(), attributes);
    return file != INVALID_HANDLE_VALUE;
}

bool deleteFile(const std::wstring& path)
{
    if (DeleteFileW(path.c_str()))
        return true;
    // Gone already: the record may name one file twice in letter cases that Windows takes as one.
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return true;
    DWORD attributes = attributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        return DeleteFileW(path.c_str());
    }
    return false;
}

// Whether the folder holds anything besides this program and the record, which the finishing
// copy removes.
bool folderKeepsOthers()
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(joinPath(uninstallRun.installFolder, L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool others = false;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L".." && !sameName(name, wideName(kUninstallerName)) && !sameName(name, wideName(kRecordName)))
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
                        finishArguments(reinterpret_cast<std::uintptr_t>(self), uninstallRun.installFolder);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Its working folder is the temporary one: a process inside the install folder would keep
    // that folder from being removed.
    bool started = CreateProcessW(copy.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, temp, &startup, &process);
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
// must not take the live installation out of the list.
void removeEntryOfThisFolder()
{
    std::wstring keyPath(kUninstallKey);
    wchar_t location[MAX_PATH * 4];
    DWORD size = sizeof location;
    // An entry without a readable location gives no sign of belonging elsewhere.
    if (RegGetValueW(HKEY_CURRENT_USER, keyPath.c_str(), L"InstallLocation", RRF_RT_REG_SZ, nullptr, location, &size) ==
            ERROR_SUCCESS &&
        !sameName(location, uninstallRun.installFolder))
        return;
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
}

} // namespace

int removeInstallation()
{
    std::wstring problem = installFolderProblem(uninstallRun.installFolder);
    if (!problem.empty()) {
        showMessage(problem, MB_ICONERROR);
        return kExitBadCall;
    }
    std::wstring recordPath = joinPath(uninstallRun.installFolder, wideName(kRecordName));
    std::string bytes;
    std::vector<RecordEntry> record;
    ReadOutcome outcome = readWholeFile(recordPath, bytes);
    if (outcome == ReadOutcome::failed || (outcome == ReadOutcome::ok && !parseRecord(bytes, record))) {
        showMessage(text::badRecord(recordPath), MB_ICONERROR);
        return kExitBadRecord;
    }
    // Never registered (a package without the list and a failed registration): what every
    // installation has.
    if (outcome == ReadOutcome::missing)
        record = {{wideName(kLauncherName), {}}, {wideName(kUninstallerName), {}}};

    // Only a plain yes removes anything; a dialog that could not be shown is no yes.
    int answer = showMessage(text::confirm(uninstallRun.installFolder), MB_YESNO | MB_ICONQUESTION);
    if (!uninstallRun.call.silent && answer != IDYES)
        return kExitCancelled;

    RemovalPlan plan = planRemoval(record);
    LinkGuard guard;
    std::vector<std::wstring> present;
    for (const std::wstring& relative : plan.files) {
        std::wstring path = joinPath(uninstallRun.installFolder, relative);
        if (!guard.reachable(relative)) {
            plan.refused.push_back(L"\"" + relative + L"\" liegt hinter einer Verkn\u00fcpfung (Link oder Junction)");
            continue;
        }
        DWORD attributes = attributesOf(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        present.push_back(relative);
    }
    // All or nothing: one file in use, and the installation stays as it is.
    for (const std::wstring& relative : present) {
        std::wstring path = joinPath(uninstallRun.installFolder, relative);
        if (!canGo(path, attributesOf(path))) {
            showMessage(text::inUse(relative), MB_ICONWARNING);
            return kExitInUse;
        }
    }

    std::vector<std::wstring> failed;
    for (const std::wstring& relative : present)
        if (!deleteFile(joinPath(uninstallRun.installFolder, relative)))
            failed.push_back(L"\"" + relative + L"\"");
    for (const std::wstring& folder : plan.folders) {
        std::wstring path = joinPath(uninstallRun.installFolder, folder);
        if (guard.folderReachable(folder))
            RemoveDirectoryW(path.c_str()); // fails, as meant, while anything is left in it
    }
    removeShortcut();
    removeEntryOfThisFolder();

    bool kept = folderKeepsOthers();
    if (!startFinishingCopy()) {
        failed.push_back(L"\"" + wideName(kUninstallerName) + L"\"");
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
    if (installFolderProblem(folder).empty() && !isReparsePoint(attributesOf(folder))) {
        std::wstring program = joinPath(folder, wideName(kUninstallerName));
        // The image of a process that has just ended may stay mapped for a moment.
        for (int attempt = 0; attempt < 100 && !deleteFile(program) && attributesOf(program) != INVALID_FILE_ATTRIBUTES; ++attempt)
            Sleep(50);
        deleteFile(joinPath(folder, wideName(kRecordName)));
        RemoveDirectoryW(folder.c_str());
    }
    // This copy cannot delete its own image while it runs; the system removes it with the next
    // start where the user may schedule that, and otherwise it stays in the temporary folder.
    MoveFileExW(uninstallRun.programPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return kExitDone;
}
