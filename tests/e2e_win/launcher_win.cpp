// "ORVAN Launcher.exe" and "ORVAN Deinstallieren.exe" of the test packages: records that it was
// started, from where, in which working folder and with which arguments, then ends. The record is a
// UTF-8 text file named by an environment variable (a Windows path, e.g. Z:\tmp\x\launcher.txt),
// inherited from the installer or the script that started this program: ORVAN_LAUNCHER_RECORD for
// the launcher, ORVAN_UNINSTALLER_RECORD for the uninstaller (ORVAN_RECORD_VARIABLE at build time).
// Each start appends four lines:
//   program=<full path of this executable>
//   folder=<working folder>
//   arguments=<command line after the program name>
//   argv=<each argument as CommandLineToArgvW splits it, in brackets: [/version][2.0 beta]>
// With ORVAN_LAUNCHER_HOLD_MS set it then keeps running that long, as a launcher that the user
// has open holds its program file. It ends with the exit code its exit variable names
// (ORVAN_EXIT_VARIABLE at build time; 0 when unset), as an uninstaller that could not register.
#include "tests/common/win_files_win.h"

#include <shellapi.h>

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

// The arguments as the program's C runtime would see them, each in brackets.
std::wstring bracketedArguments()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring out;
    for (int i = 1; i < count; ++i)
        out += L"[" + std::wstring(args[i]) + L"]";
    LocalFree(args);
    return out;
}

} // namespace

#ifndef ORVAN_RECORD_VARIABLE
#define ORVAN_RECORD_VARIABLE L"ORVAN_LAUNCHER_RECORD"
#endif
#ifndef ORVAN_EXIT_VARIABLE
#define ORVAN_EXIT_VARIABLE L"ORVAN_LAUNCHER_EXIT"
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t record[4096];
    DWORD n = GetEnvironmentVariableW(ORVAN_RECORD_VARIABLE, record, 4096);
    if (n == 0 || n >= 4096)
        return 2;
    wchar_t program[4096];
    GetModuleFileNameW(nullptr, program, 4096);
    wchar_t folder[4096];
    GetCurrentDirectoryW(4096, folder);
    std::string text = "program=" + utf8(program) + "\nfolder=" + utf8(folder) + "\narguments=" + utf8(arguments()) +
                       "\nargv=" + utf8(bracketedArguments()) + "\n";
    HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    std::wstring hold = envText(L"ORVAN_LAUNCHER_HOLD_MS");
    if (!hold.empty())
        Sleep(static_cast<DWORD>(_wtoi(hold.c_str())));
    std::wstring exitCode = envText(ORVAN_EXIT_VARIABLE);
    return exitCode.empty() ? 0 : _wtoi(exitCode.c_str());
}
