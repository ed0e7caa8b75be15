#pragma once
// The installation that runs by itself ("/still", "/passiv"): its run log, its end, and the
// report of a bad call. Used on the UI thread only.

#include "command_line.h"

#include <windows.h>

#include <string>
#include <string_view>

// The passive window stays this long with its outcome before it closes itself.
constexpr UINT_PTR kCloseTimerId = 2;
constexpr UINT kPassiveCloseDelayMs = 1500;

// Opens the run log for appending, creating it when missing; false when it cannot be written.
bool openRunLog(const std::wstring& path);
// Appends a line with the time, when a run log is open.
void writeRunLog(std::wstring_view text);

// The attempt has its outcome (installerState holds it): it goes into the log, and the run ends,
// without a window at once, with the window after a moment.
void endUnattendedRun(HWND window, std::wstring_view detail);

// After the message loop: waits for the worker to finish with PowerShell and the script file
// when the installation got to its end, closes the log and returns the exit code.
int unattendedExitCode();

// A bad call: the German message box (not with "/still"), the log when one was named; returns
// the exit code.
int reportBadCall(const InstallerCall& call, const std::wstring& problem);
