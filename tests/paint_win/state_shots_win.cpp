// Brings the real installer window into each of its four states, as the worker's messages and a
// click would, and captures the client area from the X display for each: docs/state-*.png, at the
// DPI the Wine prefix gives (scripts/screenshots also takes them at 144 DPI, with a suffix).
// Usage (under Wine on an X display): paint-state-shots.exe <folder as a Linux path> [<suffix>]
#include "engine/messages.h"
#include "app/state.h"
#include "app/window_win.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

void pump(DWORD milliseconds)
{
    ULONGLONG until = GetTickCount64() + milliseconds;
    MSG message;
    while (GetTickCount64() < until) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    }
}

void post(UINT message, WPARAM wParam, const wchar_t* text)
{
    PostMessageW(mainWindow, message, wParam, text ? reinterpret_cast<LPARAM>(new OwnedText{text}) : 0);
}

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
    pump(400);
}

std::string suffix;

bool capture(const std::string& folder, const char* name)
{
    using Spawn = LONG(CDECL*)(char* const argv[], int wait);
    auto spawn = reinterpret_cast<Spawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    if (spawn == nullptr)
        return false;
    POINT origin = {0, 0};
    ClientToScreen(mainWindow, &origin);
    RECT client;
    GetClientRect(mainWindow, &client);
    std::string size = std::to_string(client.right) + "x" + std::to_string(client.bottom);
    std::vector<std::string> args = {"/usr/bin/import", "-window", "root", "-crop",
                                     size + "+" + std::to_string(origin.x) + "+" + std::to_string(origin.y), "+repage",
                                     folder + "/state-" + name + suffix + ".png"};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return spawn(argv.data(), 1) == 0;
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
    createFonts();
    registerWindowClass(GetModuleHandleW(nullptr));
    mainWindow = createMainWindow(GetModuleHandleW(nullptr));
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);
    KillTimer(mainWindow, kAnimationTimerId);
    bool ok = true;

    freezeAt(40);
    ok &= capture(folder, "ready");

    startAttempt();
    post(WM_INSTALL_LINE, 0, L"Verbinde mit download.nordalis.example ...");
    post(WM_INSTALL_PROGRESS, 3, nullptr);
    post(WM_INSTALL_LINE, 1, L"Katalog gelesen: ORVAN Launcher 1.4.2");
    post(WM_INSTALL_LINE, 0, L"ORVAN Launcher 1.4.2 wird geladen");
    post(WM_INSTALL_LINE, 0, L"Lade Teil 1 / 3");
    post(WM_INSTALL_LINE, 0, L"Lade Teil 2 / 3");
    post(WM_INSTALL_PROGRESS, 46, nullptr);
    pump(200);
    freezeAt(12);
    ok &= capture(folder, "installing");

    post(WM_INSTALL_ERROR, 0, L"Pr\u00FCfsumme von Teil 2 stimmt nicht \u00FCberein.");
    pump(200);
    freezeAt(25);
    ok &= capture(folder, "failed");

    startAttempt();
    post(WM_INSTALL_LINE, 0, L"Verbinde mit download.nordalis.example ...");
    post(WM_INSTALL_LINE, 0, L"Lade Teil 3 / 3");
    post(WM_INSTALL_LINE, 0, L"Entpacke nach C:\\users\\nutzer\\ORVAN Launcher");
    post(WM_INSTALL_LINE, 0, L"Erstelle Desktop-Verkn\u00FCpfung");
    post(WM_INSTALL_PROGRESS, 96, nullptr);
    post(WM_INSTALL_DONE, 0, L"C:\\users\\nutzer\\ORVAN Launcher\\ORVAN Launcher.exe");
    pump(200);
    freezeAt(60);
    ok &= capture(folder, "finished");

    DestroyWindow(mainWindow);
    return ok ? 0 : 1;
}
