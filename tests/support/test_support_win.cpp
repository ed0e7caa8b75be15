#include "test_support_win.h"

#include "engine/messages.h"
#include "app/state.h"
#include "app/window_win.h"
#include "engine/worker_win.h"

namespace {

std::vector<Posted> recorded;

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_INSTALL_PROGRESS && message <= WM_INSTALL_ERROR) {
        Posted posted{message, wParam, L""};
        if (message != WM_INSTALL_PROGRESS) {
            auto* owned = reinterpret_cast<OwnedText*>(lParam);
            posted.text = owned->text;
            delete owned;
        }
        recorded.push_back(posted);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void deleteTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                deleteTree(folder + name + L"\\");
                RemoveDirectoryW((folder + name).c_str());
            } else {
                DeleteFileW((folder + name).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
}

} // namespace

void useRecordingWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = recordingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrvanTestRecorder";
    RegisterClassW(&windowClass);
    mainWindow = CreateWindowExW(0, L"OrvanTestRecorder", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
}

std::vector<Posted>& postedMessages()
{
    return recorded;
}

bool pumpUntilSignalled(HANDLE object, DWORD timeoutMs)
{
    bool ok = pumpUntil([&] { return WaitForSingleObject(object, 0) == WAIT_OBJECT_0; }, timeoutMs);
    pumpFor(50); // what was posted last
    return ok;
}

HANDLE startWorkerThread()
{
    return CreateThread(nullptr, 0, installWorker, nullptr, 0, nullptr);
}

std::wstring freshFolder(const std::wstring& name)
{
    CreateDirectoryW(L"C:\\orvan tests", nullptr);
    std::wstring folder = L"C:\\orvan tests\\" + name + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    deleteTree(folder);
    return folder;
}

void useTempFolder(const std::wstring& folder)
{
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
}

std::wstring scriptPathIn(const std::wstring& tempFolder)
{
    return tempFolder + L"orvan-install-" + std::to_wstring(GetCurrentProcessId()) + L".ps1";
}

std::wstring systemPowerShell()
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

void installStandinAsSystemPowerShell()
{
    std::wstring target = systemPowerShell();
    CreateDirectoryW(target.substr(0, target.rfind(L"\\v1.0\\")).c_str(), nullptr);
    CreateDirectoryW(target.substr(0, target.rfind(L'\\')).c_str(), nullptr);
    CopyFileW(besideThisProgram(L"powershell.exe").c_str(), target.c_str(), FALSE);
}

void removeSystemPowerShell()
{
    DeleteFileW(systemPowerShell().c_str());
}

void setStandin(const wchar_t* name, const std::wstring& value)
{
    SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
}

bool fileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

int countLines(const std::wstring& path)
{
    int lines = 0;
    for (char c : readWholeFile(path))
        lines += c == '\n';
    return lines;
}

void runXdotool(std::vector<std::string> args, bool wait)
{
    // Not under Wine nothing is typed, and the test's own checks fail.
    args.insert(args.begin(), "/usr/bin/xdotool");
    runUnixProgram(args, wait);
}

void ShownWindowTest::SetUp()
{
    installStandinAsSystemPowerShell();
    temp = freshFolder(L"tmp " + name_);
    useTempFolder(temp);
    record = freshFolder(L"record " + name_);
    record.pop_back();
    writeWholeFile(temp + L"leer.bin", "");
    std::wstring event = L"OrvanRelease" + name_;
    setStandin(L"ORVAN_STANDIN", L"replay");
    setStandin(L"ORVAN_STANDIN_STREAM", temp + L"leer.bin");
    setStandin(L"ORVAN_STANDIN_RELEASE", event);
    setStandin(L"ORVAN_STANDIN_RECORD", record);
    release = CreateEventW(nullptr, TRUE, FALSE, event.c_str());

    installerState = InstallerState{};
    openInstallerWindow();
    settle();
}

void ShownWindowTest::TearDown()
{
    SetEvent(release);
    if (installerState.busy) {
        EXPECT_TRUE(pumpUntil([] { return !installerState.busy; }, 10000)) << "the attempt did not end";
    }
    CloseHandle(release);
}
