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

// One value of an entry as it was, to be put back.
struct SavedValue {
    std::wstring name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

// The entry as it is; false when it is there but cannot be read whole, since what cannot be
// read cannot be put back.
bool readEntry(std::vector<SavedValue>& values, bool& exists)
{
    values.clear();
    exists = false;
    HKEY key = nullptr;
    LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, std::wstring(kUninstallKey).c_str(), 0, KEY_QUERY_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND)
        return true;
    if (opened != ERROR_SUCCESS)
        return false;
    exists = true;
    DWORD count = 0, longestName = 0, longestData = 0;
    bool ok = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longestName,
                               &longestData, nullptr, nullptr) == ERROR_SUCCESS;
    std::vector<wchar_t> name(longestName + 1);
    for (DWORD i = 0; ok && i < count; ++i) {
        SavedValue value;
        value.data.resize(longestData);
        DWORD nameLength = longestName + 1, dataSize = longestData;
        ok = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &value.type, value.data.data(), &dataSize) ==
             ERROR_SUCCESS;
        value.name.assign(name.data(), nameLength);
        value.data.resize(dataSize);
        values.push_back(std::move(value));
    }
    RegCloseKey(key);
    return ok;
}

// The entry as it was read: gone when there was none, otherwise every value again, the name
// that makes it show last.
void restoreEntry(const std::vector<SavedValue>& values, bool existed)
{
    std::wstring keyPath(kUninstallKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, keyPath.c_str());
    HKEY key = nullptr;
    if (!existed || RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                                    nullptr) != ERROR_SUCCESS)
        return;
    for (int pass = 0; pass < 2; ++pass)
        for (const SavedValue& value : values)
            if (sameName(value.name, L"DisplayName") == (pass == 1))
                RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                               static_cast<DWORD>(value.data.size()));
    RegCloseKey(key);
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

    std::vector<SavedValue> previous;
    bool existed = false;
    if (!readEntry(previous, existed))
        return kExitRegistry;
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
    // Half an entry is worse than the one before: Settings would offer a removal with a stale or
    // missing command. The entry goes back to what it was, and none stays where there was none;
    // the next installation writes it anew.
    if (!ok) {
        restoreEntry(previous, existed);
        return kExitRegistry;
    }
    return kExitDone;
}
