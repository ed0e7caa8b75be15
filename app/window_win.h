#pragma once
// The installer window: resources, class, window and the window procedure.

#include "engine/protocol_win.h" // mainWindow: the window is the one the workers post to

#include <windows.h>

// Written on the UI thread only: at creation and by WM_DPICHANGED. The DPI the window is drawn
// at; the picture and the hit test scale their 96-DPI units by it.
extern int windowDpi;

// One set for each DPI the window meets, made on first use and never deleted; used by the UI
// thread only.
struct Fonts {
    HFONT fontTitle;
    HFONT fontHeading;
    HFONT fontMono;
    HFONT fontSubtitle;
    HFONT fontButton;
};
const Fonts& fontsFor(int dpi);

constexpr int kClientWidth = 640;
constexpr int kClientHeight = 460;
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR kAnimationTimerId = 1;
constexpr UINT kAnimationPeriodMs = 60;

// Per monitor (version 2) where Windows offers it, else system-aware; declared at run time, so
// the executable carries no manifest and still starts on Windows 7.
void declareDpiAwareness();
int systemDpi();

// The fonts at the system DPI, before any window exists.
void createFonts();
void registerWindowClass(HINSTANCE instance);
HWND createMainWindow(HINSTANCE instance);
int runMessageLoop();

// Start-up in order, then the message loop; returns the process exit code.
int runInstaller(HINSTANCE instance);

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The user has used the keyboard: from now on the button shows its focus frame while the window
// is active, and Windows' keyboard cues of the window say so too.
void showFocusCues(HWND window);

// After every change of the installer state: repaints the whole client area and tells screen
// readers what changed.
void showStateChange(HWND window);

// Handlers that live beside their subsystems.
LRESULT onPaint(HWND window);
LRESULT onSetCursor(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT onLButtonDown(HWND window, int x, int y);
LRESULT onKeyDown(HWND window, WPARAM virtualKey, LPARAM flags);
// A click, a key or a screen reader's default action on the button.
LRESULT pressButton(HWND window);
// The state has been reset for a new attempt: shows it and starts the worker.
void startAttempt(HWND window);
