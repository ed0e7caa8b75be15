#pragma once
// What the worker, pointer, keyboard and screen-reader tests share: a window that records what a
// worker posts, bounded waits, and the stand-in's settings.

#include "installer_window_win.h"
#include "tests/common/win_files_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

struct Posted {
    UINT message;
    WPARAM wParam;
    std::wstring text;
};

// A message-only window as mainWindow; every installation message sent to it is recorded, and
// its text freed, as the installer's window procedure does.
void useRecordingWindow();
std::vector<Posted>& postedMessages();

bool pumpUntilSignalled(HANDLE object, DWORD timeoutMs = 30000);

// A worker started so that the test, unlike the installer, can wait for it.
HANDLE startWorkerThread();

// An empty folder below C:\ with a blank in its name, ending in a backslash.
std::wstring freshFolder(const std::wstring& name);
void useTempFolder(const std::wstring& folder); // TMP and TEMP, as GetTempPathW reads them
std::wstring scriptPathIn(const std::wstring& tempFolder);

// Where the worker starts Windows PowerShell from: the system folder's WindowsPowerShell\v1.0.
std::wstring systemPowerShell();
// Puts the stand-in built beside this test program at that place, or takes away whatever is there.
void installStandinAsSystemPowerShell();
void removeSystemPowerShell();

void setStandin(const wchar_t* name, const std::wstring& value);
bool fileExists(const std::wstring& path);
void writeWholeFile(const std::wstring& path, const std::string& bytes);
int countLines(const std::wstring& path);

// Runs xdotool on the test's X display through Wine, as a person would type or click; waits for
// it to finish unless told otherwise.
void runXdotool(std::vector<std::string> args, bool wait = true);

// The real installer window, shown, in the Ready state. The PowerShell stand-in, put where
// Windows keeps PowerShell, records each start and then waits for the event `release`, so an
// attempt the test starts stays in progress as long as the test needs. Named by the test (folder
// and event names).
class ShownWindowTest : public ::testing::Test {
protected:
    explicit ShownWindowTest(const wchar_t* name) : name_(name) {}
    void SetUp() override;
    // The attempt a test started must be over before the process ends: under Wine a process that
    // ends while its worker is inside CreateProcessW leaves the half-made child hanging for ever,
    // holding the standard output that CTest waits on. Released, the stand-in exits at once and
    // the worker reports the missing outcome.
    void TearDown() override;

    static void settle() { pumpFor(300); }
    int starts() const { return countLines(record + L"\\starts.txt"); }

    std::wstring temp;
    std::wstring record; // the stand-in's record folder, without a final backslash
    HANDLE release = nullptr;

private:
    std::wstring name_;
};
