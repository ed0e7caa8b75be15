#include "window_win.h"

#include "messages.h"
#include "state.h"

HWND mainWindow = nullptr;
Fonts fonts = {};

namespace {

constexpr wchar_t kClassName[] = L"OrvanInstaller";
constexpr wchar_t kWindowTitle[] = L"ORVAN Launcher // Installation";

HFONT createFont(const wchar_t* face, int height, int weight)
{
    return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, face);
}

// Every state change repaints the whole client area; the frame covers every pixel, so no erase.
LRESULT repaint(HWND window)
{
    InvalidateRect(window, nullptr, FALSE);
    return 0;
}

// Takes over the text a worker posted and frees it before the handler returns.
std::wstring takeText(LPARAM lParam)
{
    OwnedText* owned = reinterpret_cast<OwnedText*>(lParam);
    std::wstring text = std::move(owned->text);
    delete owned;
    return text;
}

LRESULT onCreate(HWND window)
{
    setButtonRects(installerState);
    SetTimer(window, kAnimationTimerId, kAnimationPeriodMs, nullptr);
    return 0;
}

LRESULT onDestroy()
{
    PostQuitMessage(0);
    return 0;
}

LRESULT onTimer(HWND window)
{
    applyTimerTick(installerState);
    return repaint(window);
}

LRESULT onInstallProgress(HWND window, WPARAM percent)
{
    applyInstallProgress(installerState, percent);
    return repaint(window);
}

LRESULT onInstallLine(HWND window, WPARAM logOnly, LPARAM text)
{
    applyInstallLine(installerState, logOnly, takeText(text));
    return repaint(window);
}

LRESULT onInstallDone(HWND window, LPARAM launcherPath)
{
    applyInstallDone(installerState, takeText(launcherPath));
    return repaint(window);
}

LRESULT onInstallError(HWND window, LPARAM message)
{
    applyInstallError(installerState, takeText(message));
    return repaint(window);
}

} // namespace

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return onCreate(window);
    case WM_DESTROY: return onDestroy();
    case WM_PAINT: return onPaint(window);
    case WM_SETCURSOR: return onSetCursor(window, wParam, lParam);
    case WM_TIMER: return onTimer(window);
    case WM_LBUTTONDOWN: return onLButtonDown(window, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    case WM_INSTALL_PROGRESS: return onInstallProgress(window, wParam);
    case WM_INSTALL_LINE: return onInstallLine(window, wParam, lParam);
    case WM_INSTALL_DONE: return onInstallDone(window, lParam);
    case WM_INSTALL_ERROR: return onInstallError(window, lParam);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void createFonts()
{
    fonts.fontTitle = createFont(L"Segoe UI", -30, 700);
    fonts.fontHeading = createFont(L"Segoe UI", -20, 600);
    fonts.fontMono = createFont(L"Courier New", -13, 400);
    fonts.fontSubtitle = createFont(L"Courier New", -12, 700);
    fonts.fontButton = createFont(L"Courier New", -14, 700);
}

void registerWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr; // every pixel comes from the frame
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
}

HWND createMainWindow(HINSTANCE instance)
{
    RECT outer = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&outer, kWindowStyle, FALSE);
    // Centred by the client size, not the outer size.
    int x = (GetSystemMetrics(SM_CXSCREEN) - kClientWidth) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - kClientHeight) / 2;
    return CreateWindowExW(0, kClassName, kWindowTitle, kWindowStyle, x, y, outer.right - outer.left,
                           outer.bottom - outer.top, nullptr, nullptr, instance, nullptr);
}

int runMessageLoop()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

int runInstaller(HINSTANCE instance)
{
    createFonts();
    registerWindowClass(instance);
    mainWindow = createMainWindow(instance);
    if (mainWindow == nullptr)
        return 1; // nothing to show; a window that cannot be made is the one start-up failure reported
    ShowWindow(mainWindow, SW_SHOW);
    UpdateWindow(mainWindow);
    return runMessageLoop();
}
