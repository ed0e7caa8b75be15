// start-hidden.exe: starts a program the way the installer starts PowerShell (no console of its
// own, CREATE_NO_WINDOW, hidden, standard output and error on one pipe) and copies what arrives
// on the pipe to its own standard output; exits with the program's exit code.
//
//   start-hidden.exe [NAME=VALUE ...] PROGRAM [ARGUMENT ...]
//
// The NAME=VALUE pairs before the program are set in this process's environment first, so the
// program inherits them: Wine gives a process started from Linux its own USERPROFILE and TEMP, but
// a Windows child keeps what its Windows parent passes. PowerShell started straight from Linux
// with its output on a pipe has no console and ends without a word; started like this, it runs as
// it does under the installer. Exit codes of its own: 120 for a bad command line, 121 when the
// program cannot be started.
#include "tests/common/win_files_win.h"

#include <shellapi.h>

#include <string>

namespace {

// One argument for the child's command line, quoted by the rules CommandLineToArgvW reads.
std::wstring quoted(const std::wstring& text)
{
    if (!text.empty() && text.find_first_of(L" \t\"") == std::wstring::npos)
        return text;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

void copyToStandardOutput(HANDLE from)
{
    HANDLE to = GetStdHandle(STD_OUTPUT_HANDLE);
    char buffer[64 * 1024];
    DWORD got = 0;
    while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        DWORD at = 0;
        while (at < got) {
            DWORD written = 0;
            if (!WriteFile(to, buffer + at, got - at, &written, nullptr) || written == 0)
                return;
            at += written;
        }
    }
}

} // namespace

int wmain()
{
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    int program = 1;
    for (; program < count; ++program) {
        std::wstring arg = args[program];
        std::size_t equals = arg.find(L'=');
        if (equals == std::wstring::npos || equals == 0)
            break;
        SetEnvironmentVariableW(arg.substr(0, equals).c_str(), arg.substr(equals + 1).c_str());
    }
    if (program >= count)
        return 120;
    std::wstring commandLine;
    for (int i = program; i < count; ++i)
        commandLine += (i > program ? L" " : L"") + quoted(args[i]);
    LocalFree(args);

    SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return 121;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &child))
        return 121;
    CloseHandle(writeEnd);
    copyToStandardOutput(readEnd);
    CloseHandle(readEnd);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 121;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    return static_cast<int>(code);
}
