// Brings up the real installer window with the installer's own start-up steps, at the DPI this
// process was started with, and writes its client area to a file:
//   dpi-probe <file> [<new dpi> <file after>]
// With a new DPI it then sends the window WM_DPICHANGED with a suggested rectangle whose client
// area is 640 x 460 at that DPI, and writes the client area again. Each file: one text line
// "<dpi> <client width> <client height> <window left> <window top> <window right> <window bottom>",
// then the client area as 32-bit top-down pixels (blue, green, red, unused).
#include "app/state.h"
#include "app/window_win.h"
#include "installer_window_win.h"

#include <cstdio>

namespace {

bool capture(const wchar_t* path)
{
    RECT client, outer;
    GetClientRect(mainWindow, &client);
    GetWindowRect(mainWindow, &outer);
    Picture picture(client.right, client.bottom);
    copyWindowInto(picture);
    char head[160];
    int length = std::snprintf(head, sizeof head, "%d %d %d %ld %ld %ld %ld\n", windowDpi, picture.width,
                               picture.height, outer.left, outer.top, outer.right, outer.bottom);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, head, static_cast<DWORD>(length), &written, nullptr) &&
              WriteFile(file, picture.bits, static_cast<DWORD>(picture.width) * picture.height * 4, &written, nullptr);
    CloseHandle(file);
    return ok;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: dpi-probe <file> [<new dpi> <file after>]\n");
        return 2;
    }
    declareDpiAwareness();
    openInstallerWindow();
    KillTimer(mainWindow, kAnimationTimerId);
    installerState.animTick = 70; // the header segment away from the corners
    InvalidateRect(mainWindow, nullptr, FALSE);
    pumpFor(300);
    bool ok = capture(argv[1]);

    if (argc == 4) {
        int dpi = _wtoi(argv[2]);
        // The client area 640 x 460 at the new DPI inside today's frame: Wine draws the frame at
        // the prefix's DPI whatever the message says.
        RECT client, outer;
        GetClientRect(mainWindow, &client);
        GetWindowRect(mainWindow, &outer);
        int frameWidth = (outer.right - outer.left) - client.right;
        int frameHeight = (outer.bottom - outer.top) - client.bottom;
        int width = MulDiv(640, dpi, 96) + frameWidth;
        int height = MulDiv(460, dpi, 96) + frameHeight;
        RECT suggested = {outer.left - 40, outer.top - 30, outer.left - 40 + width, outer.top - 30 + height};
        SendMessageW(mainWindow, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        UpdateWindow(mainWindow);
        pumpFor(300);
        ok = capture(argv[3]) && ok;
    }
    DestroyWindow(mainWindow);
    return ok ? 0 : 1;
}
