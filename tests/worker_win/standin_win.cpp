// Stands in for powershell.exe in the worker's tests. What it does is chosen by environment
// variables that the test sets before it starts an attempt (the child inherits them):
//   ORVAN_STANDIN         replay | record | silent | grandchild | hold
//   ORVAN_STANDIN_STREAM  file whose bytes are written to standard output (replay, hold)
//   ORVAN_STANDIN_CHUNK   bytes per write (replay; default all at once)
//   ORVAN_STANDIN_PAUSE   milliseconds between writes (replay)
//   ORVAN_STANDIN_RELEASE name of an event to wait for before exiting (replay, hold)
//   ORVAN_STANDIN_RECORD  folder: every start appends "start <this program's path>" to starts.txt;
//                         record mode also writes command.txt (the command line), script.bin
//                         (the script file), folder.txt (the working folder) and guard.txt: as
//                         another process would try it, whether the script file could be opened
//                         for writing, renamed and deleted while this program runs ("write=0
//                         rename=0 delete=0" when all three are refused)
#include "tests/common/win_files_win.h"

#include <string>
#include <vector>

namespace {

void writeFile(const std::wstring& path, const void* data, DWORD size, bool append)
{
    HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, data, size, &written, nullptr);
    CloseHandle(file);
}

void out(const char* data, DWORD size)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data, size, &written, nullptr);
}

void out(const char* text)
{
    out(text, lstrlenA(text));
}

void waitForRelease()
{
    std::wstring name = envText(L"ORVAN_STANDIN_RELEASE");
    if (name.empty())
        return;
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    if (event != nullptr) {
        WaitForSingleObject(event, 60000); // bounded, so that no stand-in outlives a broken test
        CloseHandle(event);
    }
}

void replay()
{
    std::vector<char> stream = readWholeFile(envText(L"ORVAN_STANDIN_STREAM"));
    std::wstring chunkText = envText(L"ORVAN_STANDIN_CHUNK");
    std::wstring pauseText = envText(L"ORVAN_STANDIN_PAUSE");
    std::size_t chunk = chunkText.empty() ? stream.size() : static_cast<std::size_t>(_wtoi(chunkText.c_str()));
    DWORD pause = pauseText.empty() ? 0 : static_cast<DWORD>(_wtoi(pauseText.c_str()));
    if (chunk == 0)
        chunk = 1;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        if (at > 0 && pause > 0)
            Sleep(pause);
        std::size_t n = stream.size() - at < chunk ? stream.size() - at : chunk;
        out(stream.data() + at, static_cast<DWORD>(n));
    }
    waitForRelease();
}

void record(const std::wstring& folder)
{
    std::wstring commandLine = GetCommandLineW();
    writeFile(folder + L"\\command.txt", commandLine.data(), static_cast<DWORD>(commandLine.size() * sizeof(wchar_t)), false);
    std::wstring::size_type open = commandLine.find(L"-File \"");
    std::vector<char> script;
    if (open != std::wstring::npos) {
        std::wstring::size_type start = open + 7;
        std::wstring path = commandLine.substr(start, commandLine.find(L'"', start) - start);
        script = readWholeFile(path);
        HANDLE writable = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
        bool wrote = writable != INVALID_HANDLE_VALUE;
        if (wrote)
            CloseHandle(writable);
        bool renamed = MoveFileW(path.c_str(), (path + L".anders").c_str()) != FALSE;
        if (renamed)
            MoveFileW((path + L".anders").c_str(), path.c_str());
        bool deleted = DeleteFileW(path.c_str()) != FALSE;
        std::string guard = std::string("write=") + (wrote ? "1" : "0") + " rename=" + (renamed ? "1" : "0") +
                            " delete=" + (deleted ? "1" : "0");
        writeFile(folder + L"\\guard.txt", guard.data(), static_cast<DWORD>(guard.size()), false);
    }
    wchar_t current[MAX_PATH];
    DWORD currentLength = GetCurrentDirectoryW(MAX_PATH, current);
    writeFile(folder + L"\\folder.txt", current, currentLength * sizeof(wchar_t), false);
    writeFile(folder + L"\\script.bin", script.data(), static_cast<DWORD>(script.size()), false);
    out("@DONE C:\\aufgezeichnet\\ORVAN Launcher.exe\n");
}

// Leaves a process behind that holds the pipe's write end after this one has exited.
void grandchild()
{
    SetEnvironmentVariableW(L"ORVAN_STANDIN", L"hold");
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"powershell hold";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    out("@S Kind beendet\n");
}

void hold()
{
    waitForRelease();
    out("@S Enkel beendet\n@DONE C:\\Enkel\\ORVAN Launcher.exe\n");
}

} // namespace

int main()
{
    std::wstring mode = envText(L"ORVAN_STANDIN");
    std::wstring folder = envText(L"ORVAN_STANDIN_RECORD");
    if (!folder.empty() && mode != L"hold") {
        wchar_t self[MAX_PATH];
        DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::string line = "start " + utf8(std::wstring(self, length)) + "\n";
        writeFile(folder + L"\\starts.txt", line.data(), static_cast<DWORD>(line.size()), true);
    }
    if (mode == L"replay")
        replay();
    else if (mode == L"record")
        record(folder);
    else if (mode == L"grandchild")
        grandchild();
    else if (mode == L"hold")
        hold();
    else
        out("nur Text, kein Ergebnis\n");
    return 3;
}
