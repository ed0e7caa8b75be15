#include "engine/worker_win.h"
#include "scale.h"
#include "state.h"
#include "unattended_win.h"
#include "window_win.h"

#include <shellapi.h>

#include <string>

namespace {

// The button's hit rectangle scales with the picture: it is the rectangle the button is drawn in.
bool onButton(POINT point)
{
    PixelRect button = scaledRect(buttonRectInForce(installerState), windowDpi);
    RECT rect = {button.left, button.top, button.right, button.bottom};
    return PtInRect(&rect, point) != FALSE;
}

} // namespace

LRESULT onSetCursor(HWND window, WPARAM wParam, LPARAM lParam)
{
    POINT point;
    GetCursorPos(&point);
    ScreenToClient(window, &point);
    if (onButton(point) && buttonActs(installerState)) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return 1;
    }
    return DefWindowProcW(window, WM_SETCURSOR, wParam, lParam);
}

LRESULT onLButtonDown(HWND window, int x, int y)
{
    if (!onButton(POINT{x, y}))
        return 0;
    return pressButton(window);
}

// Acts on key-down, Space as well as Enter; the window has no other control to take them.
LRESULT onKeyDown(HWND window, WPARAM virtualKey, LPARAM flags)
{
    auto key = static_cast<unsigned>(virtualKey);
    bool repeated = (flags & (LPARAM{1} << 30)) != 0; // the key was down before this message
    if (keyShowsFocus(key))
        showFocusCues(window);
    if (keyPressesButton(key, repeated))
        return pressButton(window);
    return DefWindowProcW(window, WM_KEYDOWN, virtualKey, flags);
}

LRESULT pressButton(HWND window)
{
    if (unattended(installerState)) // started by itself; the launcher is not opened either
        return 0;
    switch (applyButtonClick(installerState)) {
    case ClickAction::OpenLauncherAndQuit: {
        // The launcher starts in its own folder, not in the installer's (usually Downloads),
        // where Windows would look for a DLL that the launcher lacks.
        const std::wstring& path = installerState.launcherPath;
        std::size_t slash = path.find_last_of(L"\\/");
        std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
        ShellExecuteW(window, L"open", path.c_str(), nullptr, folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
        PostQuitMessage(0);
        break;
    }
    case ClickAction::StartAttempt:
        startAttempt(window);
        break;
    case ClickAction::None:
        break;
    }
    return 0;
}

void startAttempt(HWND)
{
    showStateChange(mainWindow);
    if (!startInstallWorker()) {
        // Without a worker nothing would ever end the attempt.
        constexpr wchar_t kNotStarted[] = L"Die Installation konnte nicht gestartet werden.";
        applyInstallError(installerState, kNotStarted);
        showStateChange(mainWindow);
        if (unattended(installerState))
            endUnattendedRun(mainWindow, kNotStarted);
    }
}
