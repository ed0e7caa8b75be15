#include "state.h"

InstallerState installerState;

void pushLogLine(InstallerState& state, std::wstring_view text)
{
    state.logLines.emplace_back(text);
    if (state.logLines.size() > kMaxLogLines)
        state.logLines.pop_front();
}

void setButtonRects(InstallerState& state)
{
    state.actionButtonRect = kButtonRect;
    state.launchButtonRect = kButtonRect;
}

void applyTimerTick(InstallerState& state)
{
    // Unsigned arithmetic so that the step past INT32_MAX wraps instead of overflowing.
    state.animTick = static_cast<std::int32_t>(static_cast<std::uint32_t>(state.animTick) + 1u);
}

void applyInstallProgress(InstallerState& state, std::uintptr_t wParam)
{
    state.progress = static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam));
}

void applyInstallLine(InstallerState& state, std::uintptr_t wParam, std::wstring_view text)
{
    if (wParam == 0)
        state.statusText = text;
    pushLogLine(state, text);
}

void applyInstallDone(InstallerState& state, std::wstring_view launcherPath)
{
    state.launcherPath = launcherPath;
    state.busy = false;
    state.done = true;
    state.exitCode = kInstallExitInstalled;
    state.progress = 100;
    state.statusText = L"Installation abgeschlossen.";
    pushLogLine(state, L"FERTIG.");
}

void applyInstallError(InstallerState& state, std::wstring_view message, FailureClass failure)
{
    state.busy = false;
    state.failed = true;
    state.exitCode = exitCodeFor(failure);
    state.statusText = message;
    std::wstring line = L"FEHLER: ";
    line += message;
    pushLogLine(state, line);
}

const ButtonRect& buttonRectInForce(const InstallerState& state)
{
    return state.done ? state.launchButtonRect : state.actionButtonRect;
}

bool buttonActs(const InstallerState& state)
{
    if (unattended(state))
        return false;
    return state.done || !state.busy;
}

bool keyPressesButton(unsigned virtualKey, bool repeated)
{
    return !repeated && (virtualKey == kKeyReturn || virtualKey == kKeySpace);
}

bool keyShowsFocus(unsigned virtualKey)
{
    return virtualKey == kKeyTab || virtualKey == kKeyReturn || virtualKey == kKeySpace ||
           (virtualKey >= kKeyLeft && virtualKey <= kKeyDown);
}

ClickAction applyButtonClick(InstallerState& state)
{
    if (state.done) {
        if (state.launcherOpened)
            return ClickAction::None;
        state.launcherOpened = true;
        return ClickAction::OpenLauncherAndQuit;
    }
    if (state.busy)
        return ClickAction::None;
    state.busy = true;
    state.failed = false;
    state.progress = 0;
    state.statusText = L"Starte ...";
    state.logLines.clear();
    return ClickAction::StartAttempt;
}
