#include "engine/worker_win.h"
#include "state.h"
#include "window_win.h"

#include <shellapi.h>

#include <string>

namespace {

bool onButton(POINT point)
{
    const ButtonRect& button = buttonRectInForce(installerState);
    RECT rect = {button.left, button.top, button.right, button.bottom};
    return PtInRect(&rect, point) != FALSE;
}

} // namespace

LRESULT onSetCursor(HWND window, WPARAM wParam, LPARAM lParam)
{
    POINT point;
    GetCursorPos(&point);
    ScreenToClient(window, &point);
    if (onButton(point) && !installerState.busy) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return 1;
    }
    return DefWindowProcW(window, WM_SETCURSOR, wParam, lParam);
}

LRESULT onLButtonDown(HWND window, int x, int y)
{
    if (!onButton(POINT{x, y}))
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
        InvalidateRect(mainWindow, nullptr, FALSE);
        if (!startInstallWorker()) {
            // Without a worker nothing would ever end the attempt.
            applyInstallError(installerState, L"Die Installation konnte nicht gestartet werden.");
            InvalidateRect(mainWindow, nullptr, FALSE);
        }
        break;
    case ClickAction::None:
        break;
    }
    return 0;
}
