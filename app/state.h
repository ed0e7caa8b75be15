#pragma once
// Everything the window shows and decides on, and the changes the worker's messages and the
// button make to it. Only the UI thread reads or writes the state.

#include "command_line.h"
#include "layout.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

constexpr std::size_t kMaxLogLines = 200;

struct InstallerState {
    bool busy = false;   // an attempt is running
    bool done = false;   // the last attempt succeeded; never cleared again
    bool failed = false; // the last attempt failed
    std::int32_t progress = 0; // percent, not clamped
    std::wstring statusText = L"Bereit.";
    std::deque<std::wstring> logLines; // oldest first, at most kMaxLogLines
    std::wstring launcherPath;
    std::int32_t animTick = 0; // wraps at the 32-bit limit
    ButtonRect actionButtonRect = {};
    ButtonRect launchButtonRect = {};
    // The button shows its focus frame: the window is active and the user has used the keyboard
    // in it (Windows' keyboard cues), so a mouse user never sees one.
    bool focusFrame = false;
    // The launcher has been opened and the installer is ending: a press still queued behind the
    // one that opened it (a screen reader's, a key's) must not open it a second time.
    bool launcherOpened = false;
    // How the installer was called: the window, or an installation that runs by itself.
    RunMode runMode = RunMode::window;
    // What an unattended run ends with: set by the attempt's outcome.
    int exitCode = kInstallExitOtherFailure;
};

// The one process-wide instance; the UI thread alone touches it.
extern InstallerState installerState;

void pushLogLine(InstallerState& state, std::wstring_view text);

void setButtonRects(InstallerState& state);
void applyTimerTick(InstallerState& state);
void applyInstallProgress(InstallerState& state, std::uintptr_t wParam);
void applyInstallLine(InstallerState& state, std::uintptr_t wParam, std::wstring_view text);
void applyInstallDone(InstallerState& state, std::wstring_view launcherPath);
void applyInstallError(InstallerState& state, std::wstring_view message, FailureClass failure = FailureClass::other);

// The rectangle that hit tests and painting use: the start button once done is set.
const ButtonRect& buttonRectInForce(const InstallerState& state);

// The installation runs by itself: no click, key or screen reader presses the button.
inline bool unattended(const InstallerState& state)
{
    return state.runMode != RunMode::window;
}

enum class ClickAction { None, StartAttempt, OpenLauncherAndQuit };

// Whether pressing the button (a click, a key or a screen reader's default action) does anything:
// not while an attempt runs, and never in a run that goes by itself.
bool buttonActs(const InstallerState& state);

// Virtual-key codes as Windows numbers them.
constexpr unsigned kKeyTab = 0x09;
constexpr unsigned kKeyReturn = 0x0D;
constexpr unsigned kKeySpace = 0x20;
constexpr unsigned kKeyLeft = 0x25;
constexpr unsigned kKeyDown = 0x28; // the arrows are Left, Up, Right, Down in a row

// Enter and Space press the button, as they press the default button of any Windows dialog; a
// key held down presses it once, not again with every repeat.
bool keyPressesButton(unsigned virtualKey, bool repeated);
// The keys that move or use the focus: once one is pressed, the focus frame shows where it is.
bool keyShowsFocus(unsigned virtualKey);

// What a button-down on the button in force does; the caller has done the hit test.
// StartAttempt has already reset the state for the new attempt, and the caller starts the worker.
ClickAction applyButtonClick(InstallerState& state);
