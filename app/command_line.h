#pragma once
// The installer's command line, its exit codes and the run log of an unattended installation:
// the decisions, free of Win32. Without arguments the installer is the window a person clicks
// through; the switches make the same installation run by itself, for software distribution and
// package managers.

#include "engine/messages.h"

#include <string>
#include <string_view>
#include <vector>

enum class RunMode {
    window,  // no switch: the window, started and ended by the user
    passive, // "/passiv": the window, starting by itself, taking no clicks, closing itself
    silent,  // "/still": no window at all
};

struct InstallerCall {
    RunMode mode = RunMode::window;
    std::wstring logFile; // "/protokoll DATEI"; empty for none
};

// Exit codes of an unattended run; stable, as callers decide on them. The window's own run ends
// with 0 as before.
enum InstallerExitCode : int {
    kInstallExitInstalled = 0,
    kInstallExitOtherFailure = 1,
    kInstallExitBadCall = 2,
    kInstallExitNoConnection = 3,  // the server cannot be reached
    kInstallExitInUse = 4,         // the launcher or another file of the installation is in use
    kInstallExitDiskFull = 5,
    kInstallExitCheckFailed = 6,   // a digest, the signature or the manifest's date: the release is wrong
    kInstallExitAlreadyRunning = 7, // another installation runs for this user
};

int exitCodeFor(FailureClass failure);

// Arguments after the program name. A switch begins with "/" or "-" and its letter case does not
// count. False with a German reason for an unknown switch, a switch given twice, "/protokoll"
// without a file name, both modes at once, or "/protokoll" without a mode; `call` then holds what
// could be read of it, so that a silent call stays silent and its log gets the reason.
bool parseInstallerArguments(const std::vector<std::wstring>& args, InstallerCall& call, std::wstring& problem);

// The time of a run log line, the machine's local time.
struct LogTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "2026-12-09 18:45:01 text" and a line end, as Windows programs read it.
std::wstring runLogLine(const LogTime& time, std::wstring_view text);
// The last line of a run: the exit code and what it means.
std::wstring outcomeText(int exitCode, std::wstring_view detail);

namespace installerText {
inline constexpr std::wstring_view kTitle = L"ORVAN Launcher installieren";
// The reason and the switches.
std::wstring badCall(std::wstring_view reason);
} // namespace installerText
