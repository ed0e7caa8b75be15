// Painting figures under Wine: the median time to compose and paint one frame through the
// window's own path at 96 DPI (640 x 460) and at 144 DPI (960 x 690, fonts and shapes scaled),
// and the CPU share of the idle window over 10 s of its 60 ms timer. Both frames are blitted to
// the window, which is as large as the prefix's DPI makes it: at 96 DPI the 144-DPI blit is
// clipped to 640 x 460, so for that figure run it in a prefix at 144 DPI
// (wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f).
// Measured under Wine 8 here: about 0.7-0.8 ms at 96 DPI, 1.1 ms at 144 DPI.
#include "app/frame.h"
#include "app/paint_win.h"
#include "app/scale.h"
#include "app/state.h"
#include "app/window_win.h"
#include "installer_window_win.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double processCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

} // namespace

int main()
{
    openInstallerWindow();

    // A busy frame with every text: seven log lines and the highlight.
    installerState.busy = true;
    installerState.progress = 57;
    installerState.statusText = L"Lade Teil 2 / 3";
    for (int i = 0; i < 12; ++i)
        pushLogLine(installerState, L"Zeile " + std::to_wstring(i) + L": Teil gepr\u00FCft");

    HDC windowDc = GetDC(mainWindow);
    for (int dpi : {96, 144}) {
        int width = scaled(kClientWidth, dpi);
        int height = scaled(kClientHeight, dpi);
        renderFrame(windowDc, width, height, dpi); // the fonts for the DPI are made on first use
        std::vector<double> frames;
        for (int i = 0; i < 400; ++i) {
            installerState.animTick = i;
            LARGE_INTEGER from, to;
            QueryPerformanceCounter(&from);
            renderFrame(windowDc, width, height, dpi);
            GdiFlush();
            QueryPerformanceCounter(&to);
            frames.push_back(seconds(from, to));
        }
        std::sort(frames.begin(), frames.end());
        std::printf("frame %dx%d at %d DPI (compose + paint + blit), %zu frames: median %.3f ms, p90 %.3f ms, "
                    "min %.3f ms\n",
                    width, height, dpi, frames.size(), frames[frames.size() / 2] * 1e3,
                    frames[frames.size() * 9 / 10] * 1e3, frames[0] * 1e3);
    }
    ReleaseDC(mainWindow, windowDc);

    // Idle: the installer's own loop for 10 s, the 60 ms timer repainting.
    installerState = InstallerState{};
    setButtonRects(installerState);
    int ticksBefore = installerState.animTick;
    double cpuBefore = processCpuSeconds();
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    ULONGLONG until = GetTickCount64() + 10000;
    MSG message;
    while (GetTickCount64() < until) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    QueryPerformanceCounter(&to);
    double wall = seconds(from, to);
    double cpu = processCpuSeconds() - cpuBefore;
    std::printf("idle window, %.1f s: %d timer repaints, CPU %.3f s = %.2f %% of one core (this process only)\n", wall,
                installerState.animTick - ticksBefore, cpu, 100.0 * cpu / wall);
    DestroyWindow(mainWindow);
    return 0;
}
