// read-shortcut.exe FILE.lnk: loads a saved shortcut through the shell's ShellLink COM object (the
// one WScript.Shell's shortcut wraps) and prints what it points to as one line of JSON:
//   {"TargetPath":"C:\\...","WorkingDirectory":"C:\\...","IconLocation":"C:\\...,0"}
// IconLocation in WScript.Shell's form, path and index joined by a comma. Wine's WScript.Shell
// does not load an existing shortcut (its CreateShortcut always starts empty), so the tests read
// the file back here. Exit code 1 when the file cannot be loaded as a shortcut.
#include "tests/common/win_files_win.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

std::string jsonString(const std::wstring& text)
{
    std::string out = "\"";
    for (char c : utf8(text)) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

int wmain()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count != 2)
        return 2;
    CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))) ||
        FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) ||
        FAILED(file->Load(args[1], STGM_READ)))
        return 1;
    wchar_t target[MAX_PATH] = L"";
    wchar_t folder[MAX_PATH] = L"";
    wchar_t icon[MAX_PATH] = L"";
    int iconIndex = 0;
    link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH);
    link->GetWorkingDirectory(folder, MAX_PATH);
    link->GetIconLocation(icon, MAX_PATH, &iconIndex);
    std::string line = "{\"TargetPath\":" + jsonString(target) + ",\"WorkingDirectory\":" + jsonString(folder) +
                       ",\"IconLocation\":" + jsonString(std::wstring(icon) + L"," + std::to_wstring(iconIndex)) +
                       "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    file->Release();
    link->Release();
    LocalFree(args);
    return 0;
}
