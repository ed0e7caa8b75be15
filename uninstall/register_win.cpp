// "/registrieren /version V": the record of delivered files brought up to date, then the entry
// in the list of installed apps. Runs inside the installation script's wait, which also waits for
// anything started from here, so it starts nothing; and it runs as the user, under HKCU.
#include "uninstall/uninstall_win.h"

#include "constants.h"

namespace {

bool setText(HKEY key, const wchar_t* name, const std::wstring& value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool setNumber(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

// Every list that can be read, merged; false when one is there but cannot be read, since a
// record rewritten without it would forget files that are on the machine.
bool mergeRecord()
{
    std::wstring recordPath = joinPath(uninstallRun.installFolder, wideName(kRecordName));
    std::string bytes;
    std::vector<RecordEntry> kept, delivered;
    ReadOutcome outcome = readWholeFile(recordPath, bytes);
    if (outcome == ReadOutcome::failed || (outcome == ReadOutcome::ok && !parseRecord(bytes, kept)))
        return false;
    outcome = readWholeFile(joinPath(uninstallRun.installFolder, wideName(kFileListName)), bytes);
    if (outcome == ReadOutcome::failed || (outcome == ReadOutcome::ok && !parseRecord(bytes, delivered)))
        return false;
    // The list came with the package, whether or not it names itself.
    if (outcome == ReadOutcome::ok)
        delivered.push_back({wideName(kFileListName), {}});
    std::vector<std::wstring> refused; // never written, so never deleted; nothing else to do with them
    return replaceFile(recordPath, recordText(mergeRecords(kept, delivered, refused)));
}

} // namespace

int registerApp()
{
    if (!installFolderProblem(uninstallRun.installFolder).empty())
        return kExitBadCall;
    if (!mergeRecord())
        return kExitBadRecord;

    // Everything the entry says is worked out before the first value is written.
    SYSTEMTIME today;
    GetLocalTime(&today);
    std::wstring launcher = joinPath(uninstallRun.installFolder, wideName(kLauncherName));
    const std::wstring texts[][2] = {
        {L"DisplayVersion", uninstallRun.call.version},
        {L"Publisher", L"" ORVAN_PUBLISHER},
        {L"InstallLocation", uninstallRun.installFolder},
        {L"DisplayIcon", launcher + L",0"},
        {L"UninstallString", quotedPath(uninstallRun.programPath)},
        {L"QuietUninstallString", quotedPath(uninstallRun.programPath) + L" " + std::wstring(kSilentSwitch)},
        {L"InstallDate", installDateText(today.wYear, today.wMonth, today.wDay)},
    };
    const std::pair<const wchar_t*, DWORD> numbers[] = {
        {L"EstimatedSize", estimatedSizeKiB(folderSize(uninstallRun.installFolder))},
        {L"NoModify", 1},
        {L"NoRepair", 1},
    };

    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, std::wstring(kUninstallKey).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return kExitRegistry;
    // Settings and Wine list a key by its DisplayName: it goes first and comes back last, so that
    // a key left half-written, should even its deletion fail, never shows.
    LSTATUS gone = RegDeleteValueW(key, L"DisplayName");
    bool ok = gone == ERROR_SUCCESS || gone == ERROR_FILE_NOT_FOUND;
    for (const auto& value : texts)
        ok = ok && setText(key, value[0].c_str(), value[1]);
    for (const auto& [name, value] : numbers)
        ok = ok && setNumber(key, name, value);
    ok = ok && setText(key, L"DisplayName", std::wstring(kDisplayName));
    RegCloseKey(key);
    // No entry is better than half of one: Settings would offer a removal with a stale or
    // missing command. The next installation writes it anew.
    if (!ok) {
        RegDeleteKeyW(HKEY_CURRENT_USER, std::wstring(kUninstallKey).c_str());
        return kExitRegistry;
    }
    return kExitDone;
}
