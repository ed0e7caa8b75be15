// Driving the real installer end to end: orvan-setup.exe of the windows-e2e build runs under Wine
// on the session's X display (scripts/lib/wine-session.sh), its PowerShell is the engine at the
// prefix's system path (scripts/lib/wine-engine.sh, tests/winps), the package comes from
// orvan-publish and is served by nginx on the port the installer was built for. The window is
// watched the way a person watches it: from the pixels on the screen, and clicked with xdotool.
#pragma once

#include "publish_test_util.h"
#include "wine_peer.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace e2e {

// For the benchmarks under Wine: a wall time in seconds, and the median of several rounds.
inline double seconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The port in the installer's built-in base URL, https://localhost:PORT/games/.
int serverPort();

// Empty when everything a run needs is there (Wine session with the engine, display, the
// windows-e2e outputs, orvan-publish); otherwise what is missing.
std::string missingPieces();

fs::path windowsBuild(); // build/windows-e2e
fs::path builtScript();  // the script the installer embeds, as built for the test server

using wine::runProgram;
using wine::windowsPath; // C:\e2e\name\run for a path below the prefix's drive C:

// ---- One installer run, below C:\e2e\<name>\ in the Wine drive ----

struct InstallerRun {
    std::string name;
    fs::path root;              // <prefix>/drive_c/e2e/<name>
    fs::path runFolder;         // root/run: orvan-setup.exe alone; its working folder
    fs::path home;              // the prefix's user profile, whose Desktop and Temp the script uses
    fs::path launcherRecord;    // written by the test launcher when it is started
    fs::path uninstallerRecord; // written by the test uninstaller when the script calls it
    pid_t pid = -1;
    int exitStatus = -1;        // once it has ended: the wine process's exit code
};

// The run's folders below C:\e2e\<name>\, and orvan-setup.exe copied into its run folder over
// whatever an earlier run left there.
void placeInstaller(InstallerRun& run, const std::string& name);
// Fresh folders, a copy of the installer, and the profile cleared of what an earlier run
// installed (the launcher's folder, the shortcut, the temporary folder's contents); false with a
// reason in `why`.
bool prepareRun(InstallerRun& run, const std::string& name, std::string& why);
// Starts wine on orvan-setup.exe in the run folder and waits (bounded) for its window to be shown.
bool startInstaller(InstallerRun& run, std::string& why);
// Starts wine on orvan-setup.exe in the run folder with these arguments, and returns at once.
void launchInstaller(InstallerRun& run, const std::vector<std::string>& arguments = {});
// Whether the X server has a window whose title matches the pattern (a regular expression);
// with visibleOnly, a window that is shown.
bool windowExists(const std::string& titlePattern, bool visibleOnly);
// True once the installer has ended within the time; exitStatus then holds its code.
bool waitForExit(InstallerRun& run, int timeoutMs);
// Ends a run that is still going (a failed test), and waits for the engine runs it started.
void endRun(InstallerRun& run);
// Waits, bounded, until no PowerShell engine runs in the prefix any more.
bool waitForScriptRuns(int timeoutMs);

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

// The files of a payload for the installer: the test launcher, the test uninstaller (both record
// their starts, see tests/e2e_win/launcher_win.cpp), a file in a subfolder, and `fillBytes` of
// random data in one more file.
PayloadFiles installerPayload(std::uint64_t fillBytes = 0);

// ---- The uninstaller and Windows' list of installed apps ----

// "ORVAN Deinstallieren.exe" of the windows-e2e build, the program a studio ships.
fs::path realUninstaller();
constexpr const char* kUninstallKey = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVAN Launcher";

struct RegistryValue {
    std::string type; // REG_SZ, REG_DWORD, ...
    std::string data; // as `reg query` prints it (a DWORD as 0x...)
};
// The values of a key as `wine reg query` prints them, by name; empty when the key is missing.
std::map<std::string, RegistryValue> registryValues(const std::string& key);
// What `wine uninstaller --list` prints: one "key|||DisplayName" line per installed app.
std::string installedApps();
// Waits for a window with exactly this title and presses Return in it; false when none showed
// within the time.
bool answerDialog(const std::string& title, int timeoutMs);

} // namespace e2e
