// "ORVAN Launcher.exe" of the end-to-end test package: records that it was started, from where
// and in which working folder, then ends. The record is a UTF-8 text file named by the environment
// variable ORVAN_LAUNCHER_RECORD (a Windows path, e.g. Z:\tmp\x\launcher.txt), inherited from the
// installer that opened this program; each start appends three lines:
//   program=<full path of this executable>
//   folder=<working folder>
//   arguments=<command line after the program name>
#include "tests/common/win_files_win.h"

#include <string>

namespace {

// What follows the program name, which may be quoted, on the command line.
std::wstring arguments()
{
    const wchar_t* line = GetCommandLineW();
    bool quoted = false;
    while (*line != L'\0' && (quoted || (*line != L' ' && *line != L'\t'))) {
        if (*line == L'"')
            quoted = !quoted;
        ++line;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t record[4096];
    DWORD n = GetEnvironmentVariableW(L"ORVAN_LAUNCHER_RECORD", record, 4096);
    if (n == 0 || n >= 4096)
        return 2;
    wchar_t program[4096];
    GetModuleFileNameW(nullptr, program, 4096);
    wchar_t folder[4096];
    GetCurrentDirectoryW(4096, folder);
    std::string text = "program=" + utf8(program) + "\nfolder=" + utf8(folder) + "\narguments=" + utf8(arguments()) + "\n";
    HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
