#include "window_win.h"

#include "accessible_win.h"
#include "engine/messages.h"
#include "scale.h"
#include "state.h"
#include "unattended_win.h"

#include <deque>
#include <utility>

int windowDpi = kBaseDpi;

namespace {

constexpr wchar_t kClassName[] = L"OrvanInstaller";
constexpr wchar_t kWindowTitle[] = L"ORVAN Launcher // Installation";

// Functions of Windows 10 that Windows 7 lacks: taken at run time, absent where missing.
template <typename Function>
Function* user32Function(const char* name)
{
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

HFONT createFont(const wchar_t* face, int height, int weight, int dpi)
{
    return CreateFontW(scaledFontHeight(height, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, 0, face);
}

int dpiOf(HWND window)
{
    static auto* getDpiForWindow = user32Function<decltype(GetDpiForWindow)>("GetDpiForWindow");
    UINT dpi = getDpiForWindow != nullptr ? getDpiForWindow(window) : 0;
    return dpi != 0 ? static_cast<int>(dpi) : systemDpi();
}

// The outer size whose client area is 640 x 460 at the DPI, and where it stands centred on the
// screen by the client size.
RECT centredWindowRect(int dpi)
{
    static auto* adjustForDpi = user32Function<decltype(AdjustWindowRectExForDpi)>("AdjustWindowRectExForDpi");
    int width = scaled(kClientWidth, dpi);
    int height = scaled(kClientHeight, dpi);
    RECT outer = {0, 0, width, height};
    if (adjustForDpi != nullptr)
        adjustForDpi(&outer, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi));
    else
        AdjustWindowRect(&outer, kWindowStyle, FALSE);
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return {x, y, x + outer.right - outer.left, y + outer.bottom - outer.top};
}

// Every state change repaints the whole client area (the frame covers every pixel, so no erase)
// and is announced to screen readers; a timer tick changes nothing they are told of.
LRESULT repaint(HWND window)
{
    showStateChange(window);
    return 0;
}

// UI thread: the window's keyboard cues show the focus, which they do once the user has used the
// keyboard in it. Kept here rather than read back with WM_QUERYUISTATE: where the user (or Wine,
// by default) has the cues always shown, Windows keeps no hidden state to read, and a mouse user
// would see a focus frame from the start.
bool focusCuesShown = false;

// The focus frame shows while the window is active and its keyboard cues show the focus.
void refreshFocusFrame(HWND window)
{
    bool shown = focusCuesShown && GetActiveWindow() == window;
    if (shown != installerState.focusFrame) {
        installerState.focusFrame = shown;
        InvalidateRect(window, nullptr, FALSE);
    }
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
    if (installerState.runMode != RunMode::silent) // nothing to animate without a window
        SetTimer(window, kAnimationTimerId, kAnimationPeriodMs, nullptr);
    windowDpi = dpiOf(window);
    focusCuesShown = false;
    installerState.focusFrame = false;
    startAnnouncing(window);
    return 0;
}

LRESULT onDestroy(HWND window)
{
    releaseAccessible(window);
    PostQuitMessage(0);
    return 0;
}

LRESULT onActivate(HWND window, WPARAM wParam, LPARAM lParam)
{
    // The default procedure gives the window the keyboard focus; the reader hears the button.
    LRESULT result = DefWindowProcW(window, WM_ACTIVATE, wParam, lParam);
    refreshFocusFrame(window);
    if (LOWORD(wParam) != WA_INACTIVE)
        announceFocus(window);
    return result;
}

// Windows tells the window that its cues change, e.g. after Alt.
LRESULT onUpdateUiState(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (HIWORD(wParam) & UISF_HIDEFOCUS) {
        if (LOWORD(wParam) == UIS_CLEAR)
            focusCuesShown = true;
        else if (LOWORD(wParam) == UIS_SET)
            focusCuesShown = false;
    }
    LRESULT result = DefWindowProcW(window, WM_UPDATEUISTATE, wParam, lParam);
    refreshFocusFrame(window);
    return result;
}

LRESULT onDpiChanged(HWND window, int dpi, const RECT* suggested)
{
    windowDpi = dpi;
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window, nullptr, FALSE);
    return 0;
}

// Asked before WM_DPICHANGED (Windows 10 1703 and later): the exact outer size for the new DPI,
// so the client area becomes 640 x 460 scaled, not the old window stretched.
LRESULT onGetDpiScaledSize(int dpi, SIZE* size)
{
    static auto* adjustForDpi = user32Function<decltype(AdjustWindowRectExForDpi)>("AdjustWindowRectExForDpi");
    if (adjustForDpi == nullptr)
        return FALSE;
    RECT outer = {0, 0, scaled(kClientWidth, dpi), scaled(kClientHeight, dpi)};
    adjustForDpi(&outer, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi));
    size->cx = outer.right - outer.left;
    size->cy = outer.bottom - outer.top;
    return TRUE;
}

LRESULT onPressButton(HWND window)
{
    return pressButton(window);
}

LRESULT onTimer(HWND window, WPARAM timerId)
{
    if (timerId == kCloseTimerId) {
        DestroyWindow(window);
        return 0;
    }
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
    std::wstring line = takeText(text);
    applyInstallLine(installerState, logOnly, line);
    writeRunLog(line);
    return repaint(window);
}

LRESULT onInstallDone(HWND window, LPARAM launcherPath)
{
    std::wstring path = takeText(launcherPath);
    applyInstallDone(installerState, path);
    LRESULT result = repaint(window);
    if (unattended(installerState))
        endUnattendedRun(window, path);
    return result;
}

LRESULT onInstallError(HWND window, WPARAM failure, LPARAM message)
{
    std::wstring text = takeText(message);
    applyInstallError(installerState, text, static_cast<FailureClass>(failure));
    LRESULT result = repaint(window);
    if (unattended(installerState))
        endUnattendedRun(window, text);
    return result;
}

} // namespace

void showFocusCues(HWND window)
{
    focusCuesShown = true;
    SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
    refreshFocusFrame(window);
}

void showStateChange(HWND window)
{
    InvalidateRect(window, nullptr, FALSE);
    announceChanges(window);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return onCreate(window);
    case WM_DESTROY: return onDestroy(window);
    case WM_PAINT: return onPaint(window);
    case WM_SETCURSOR: return onSetCursor(window, wParam, lParam);
    case WM_TIMER: return onTimer(window, wParam);
    case WM_LBUTTONDOWN: return onLButtonDown(window, static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
    case WM_KEYDOWN: return onKeyDown(window, wParam, lParam);
    case WM_ACTIVATE: return onActivate(window, wParam, lParam);
    case WM_UPDATEUISTATE: return onUpdateUiState(window, wParam, lParam);
    case WM_GETOBJECT: return onGetObject(window, wParam, lParam);
    case WM_DPICHANGED: return onDpiChanged(window, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
    case WM_GETDPISCALEDSIZE: return onGetDpiScaledSize(static_cast<int>(wParam), reinterpret_cast<SIZE*>(lParam));
    case WM_PRESS_BUTTON: return onPressButton(window);
    case WM_INSTALL_PROGRESS: return onInstallProgress(window, wParam);
    case WM_INSTALL_LINE: return onInstallLine(window, wParam, lParam);
    case WM_INSTALL_DONE: return onInstallDone(window, lParam);
    case WM_INSTALL_ERROR: return onInstallError(window, wParam, lParam);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void declareDpiAwareness()
{
    static auto* setContext = user32Function<decltype(SetProcessDpiAwarenessContext)>("SetProcessDpiAwarenessContext");
    // Access denied: the awareness is settled already (Wine makes every process per-monitor aware).
    if (setContext != nullptr &&
        (setContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) || GetLastError() == ERROR_ACCESS_DENIED))
        return;
    SetProcessDPIAware();
}

int systemDpi()
{
    static auto* getDpiForSystem = user32Function<decltype(GetDpiForSystem)>("GetDpiForSystem");
    if (getDpiForSystem != nullptr)
        return static_cast<int>(getDpiForSystem());
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kBaseDpi;
}

const Fonts& fontsFor(int dpi)
{
    // A deque keeps the sets where they are as it grows; a window meets one DPI or a few.
    static std::deque<std::pair<int, Fonts>> made;
    for (const auto& [madeDpi, set] : made)
        if (madeDpi == dpi)
            return set;
    Fonts set;
    set.fontTitle = createFont(L"Segoe UI", -30, 700, dpi);
    set.fontHeading = createFont(L"Segoe UI", -20, 600, dpi);
    set.fontMono = createFont(L"Courier New", -13, 400, dpi);
    set.fontSubtitle = createFont(L"Courier New", -12, 700, dpi);
    set.fontButton = createFont(L"Courier New", -14, 700, dpi);
    made.emplace_back(dpi, set);
    return made.back().second;
}

void createFonts()
{
    fontsFor(systemDpi());
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
    int dpi = systemDpi();
    RECT place = centredWindowRect(dpi);
    // Without a window the worker's messages still need a receiver: a message-only window,
    // which is never shown and which the desktop never lists.
    HWND parent = installerState.runMode == RunMode::silent ? HWND_MESSAGE : nullptr;
    HWND window = CreateWindowExW(0, kClassName, kWindowTitle, kWindowStyle, place.left, place.top,
                                  place.right - place.left, place.bottom - place.top, parent, nullptr, instance,
                                  nullptr);
    // Per monitor, the screen the window came up on may have another scale than the system's.
    if (window != nullptr && windowDpi != dpi) {
        place = centredWindowRect(windowDpi);
        SetWindowPos(window, nullptr, place.left, place.top, place.right - place.left, place.bottom - place.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    return window;
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
    declareDpiAwareness();
    createFonts();
    registerWindowClass(instance);
    mainWindow = createMainWindow(instance);
    if (mainWindow == nullptr)
        return 1; // nothing to show; a window that cannot be made is the one start-up failure reported
    if (installerState.runMode != RunMode::silent) {
        ShowWindow(mainWindow, SW_SHOW);
        UpdateWindow(mainWindow);
    }
    if (!unattended(installerState))
        return runMessageLoop();
    if (applyButtonClick(installerState) == ClickAction::StartAttempt) {
        writeRunLog(installerState.statusText);
        startAttempt(mainWindow);
    }
    runMessageLoop();
    return unattendedExitCode();
}
