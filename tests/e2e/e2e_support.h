// Driving the real installer end to end: orvan-setup.exe of the windows-e2e build runs under Wine
// on the session's X display (scripts/lib/wine-session.sh), its PowerShell is the relay of
// tests/e2e_win that runs the script with Linux pwsh, the package comes from orvan-publish and is
// served by nginx on the port the installer was built for. The window is watched the way a person
// watches it: from the pixels on the screen, and clicked with xdotool.
#pragma once

#include "tests/common/read_file.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace e2e {

namespace fs = std::filesystem;

// The port in the installer's built-in base URL, https://localhost:PORT/games/.
int serverPort();

// Empty when everything a run needs is there (Wine session, display, the windows-e2e outputs,
// orvan-publish, pwsh and the script runner); otherwise what is missing.
std::string missingPieces();

fs::path windowsBuild();   // build/windows-e2e
fs::path publishProgram(); // orvan-publish of this build
fs::path runScript();      // tests/support/run-script.ps1
fs::path pwshProgram();
fs::path builtScript();    // the script the installer embeds, as built for the test server
fs::path winePrefix();
fs::path systemPowerShell(); // where the installer starts PowerShell from, in the prefix

// Runs a program and waits; returns its exit status, -1 when it could not be started. Output goes
// to outputFile when given, otherwise to /dev/null; environment adds NAME=value entries.
int runProgram(const std::vector<std::string>& argv, const fs::path& outputFile = {},
               const std::vector<std::string>& environment = {});

// ---- One installer run, below C:\e2e\<name>\ in the Wine drive ----

struct InstallerRun {
    std::string name;
    fs::path root;           // <prefix>/drive_c/e2e/<name>
    fs::path runFolder;      // root/run: orvan-setup.exe; its working folder
    fs::path home;           // root/home: HOME and USERPROFILE of the script, with Desktop/ and Temp/
    fs::path launcherRecord; // written by the test launcher when it is started
    fs::path certificate;    // the server's CA, trusted by pwsh
    pid_t pid = -1;
    int exitStatus = -1;     // once it has ended: the wine process's exit code
};

// Windows form of a path below the Wine drive C:, e.g. C:\e2e\name\run.
std::string windowsPath(const fs::path& linuxPath);

// Fresh folders and copies of the two programs; false with a reason in `why`.
bool prepareRun(InstallerRun& run, const std::string& name, const fs::path& certificate, std::string& why);
// Starts wine on orvan-setup.exe in the run folder and waits (bounded) for its window to be shown.
bool startInstaller(InstallerRun& run, std::string& why);
// True once the installer has ended within the time; exitStatus then holds its code.
bool waitForExit(InstallerRun& run, int timeoutMs);
// Ends a run that is still going (a failed test), and waits for the script runs it started.
void endRun(InstallerRun& run);
// Waits, bounded, until every script run the relay started has written its exit code.
bool waitForScriptRuns(const InstallerRun& run, int timeoutMs);

// ---- The screen ----

constexpr int kClientLeft = 643; // the window's client area on the 1920 x 1080 screen
constexpr int kClientTop = 332;
constexpr int kClientWidth = 640;
constexpr int kClientHeight = 460;

struct Shot {
    std::vector<std::uint8_t> rgb; // kClientWidth x kClientHeight, 3 bytes a pixel
    std::uint32_t at(int x, int y) const; // 0xRRGGBB
};

enum class Screen { Unknown, Ready, Installing, Failed, Finished };
const char* screenName(Screen screen);

// The client area as it is on the screen now; png, when given, also gets a picture of it.
bool captureClient(Shot& shot, const fs::path& png = {});
// Which state the picture shows: button face and heading colour.
Screen classify(const Shot& shot);
// Width in pixels of the button label (what differs from the face inside the button).
int labelWidth(const Shot& shot);
// Polls the screen until it shows `wanted`; on time-out saves the last picture to `onTimeout`.
bool waitForScreen(Screen wanted, int timeoutMs, Shot& last, const fs::path& onTimeout = {});

void clickClient(int x, int y);
void pressButton();  // a click in the middle of the button
void closeWindow();  // Alt+F4 on the installer window, as from the keyboard

// ---- The package ----

// A payload: the test launcher, an uninstaller that writes its arguments to `uninstallerRecord`,
// a file in a subfolder, and `fillBytes` of random data in one more file.
void makePayload(const fs::path& dir, const fs::path& uninstallerRecord, std::uint64_t fillBytes = 0);
// orvan-publish build; false with its output in `why`.
bool publishTree(const fs::path& payload, const std::string& version, const fs::path& tree,
                 const std::string& partSize, std::string& why);

} // namespace e2e
