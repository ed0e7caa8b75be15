// Brings the real installer window into each of its four states, as the worker's messages and a
// click would, and captures the client area from the X display for each: docs/state-*.png, at the
// DPI the Wine prefix gives (scripts/screenshots also takes them at 144 DPI, with a suffix).
// Usage (under Wine on an X display): paint-state-shots.exe <folder as a Linux path> [<suffix>]
#include "engine/messages.h"
#include "app/state.h"
#include "app/window_win.h"
#include "installer_window_win.h"

#include <cstdio>
#include <string>

namespace {

// The click's own state change, without starting a worker: the messages below stand in for it.
void startAttempt()
{
    applyButtonClick(installerState);
    InvalidateRect(mainWindow, nullptr, FALSE);
}

// A still frame at a chosen animation step, so that the segment and highlight are in view.
void freezeAt(int tick)
{
    installerState.animTick = tick;
    InvalidateRect(mainWindow, nullptr, FALSE);
    pumpFor(400);
}

std::string suffix;

bool capture(const std::string& folder, const char* name)
{
    POINT origin = {0, 0};
    ClientToScreen(mainWindow, &origin);
    RECT client;
    GetClientRect(mainWindow, &client);
    std::string size = std::to_string(client.right) + "x" + std::to_string(client.bottom);
    return runUnixProgram({"/usr/bin/import", "-window", "root", "-crop",
                           size + "+" + std::to_string(origin.x) + "+" + std::to_string(origin.y), "+repage",
                           folder + "/state-" + name + suffix + ".png"}) == 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: paint-state-shots <folder> [<suffix>]\n");
        return 2;
    }
    char folder[1024];
    WideCharToMultiByte(CP_UTF8, 0, argv[1], -1, folder, sizeof folder, nullptr, nullptr);
    if (argc == 3) {
        char text[64];
        WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, text, sizeof text, nullptr, nullptr);
        suffix = text;
    }

    declareDpiAwareness();
    openInstallerWindow();
    KillTimer(mainWindow, kAnimationTimerId);
    bool ok = true;

    freezeAt(40);
    ok &= capture(folder, "ready");

    startAttempt();
    postToWindow(WM_INSTALL_LINE, 0, L"Verbinde mit download.nordalis.example ...");
    postToWindow(WM_INSTALL_PROGRESS, 3, nullptr);
    postToWindow(WM_INSTALL_LINE, 1, L"Katalog gelesen: ORVAN Launcher 1.4.2");
    postToWindow(WM_INSTALL_LINE, 0, L"ORVAN Launcher 1.4.2 wird geladen");
    postToWindow(WM_INSTALL_LINE, 0, L"Lade Teil 1 / 3");
    postToWindow(WM_INSTALL_LINE, 0, L"Lade Teil 2 / 3");
    postToWindow(WM_INSTALL_PROGRESS, 46, nullptr);
    pumpFor(200);
    freezeAt(12);
    ok &= capture(folder, "installing");

    postToWindow(WM_INSTALL_ERROR, 0, L"Pr\u00FCfsumme von Teil 2 stimmt nicht \u00FCberein.");
    pumpFor(200);
    freezeAt(25);
    ok &= capture(folder, "failed");

    startAttempt();
    postToWindow(WM_INSTALL_LINE, 0, L"Verbinde mit download.nordalis.example ...");
    postToWindow(WM_INSTALL_LINE, 0, L"Lade Teil 3 / 3");
    postToWindow(WM_INSTALL_LINE, 0, L"Entpacke nach C:\\users\\nutzer\\ORVAN Launcher");
    postToWindow(WM_INSTALL_LINE, 0, L"Erstelle Desktop-Verkn\u00FCpfung");
    postToWindow(WM_INSTALL_PROGRESS, 96, nullptr);
    postToWindow(WM_INSTALL_DONE, 0, L"C:\\users\\nutzer\\ORVAN Launcher\\ORVAN Launcher.exe");
    pumpFor(200);
    freezeAt(60);
    ok &= capture(folder, "finished");

    DestroyWindow(mainWindow);
    return ok ? 0 : 1;
}
