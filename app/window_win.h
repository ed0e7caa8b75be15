#pragma once
// The installer window: resources, class, window and the window procedure.

#include <windows.h>

// Written once on the UI thread right after CreateWindowExW, before any worker exists; workers
// only read it to post their messages.
extern HWND mainWindow;

// Created once at start-up, never deleted; used by the UI thread only.
struct Fonts {
    HFONT fontTitle;
    HFONT fontHeading;
    HFONT fontMono;
    HFONT fontSubtitle;
    HFONT fontButton;
};
extern Fonts fonts;

constexpr int kClientWidth = 640;
constexpr int kClientHeight = 460;
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR kAnimationTimerId = 1;
constexpr UINT kAnimationPeriodMs = 60;

void createFonts();
void registerWindowClass(HINSTANCE instance);
HWND createMainWindow(HINSTANCE instance);
int runMessageLoop();

// Start-up in order, then the message loop; returns the process exit code.
int runInstaller(HINSTANCE instance);

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Handlers that live beside their subsystems.
LRESULT onPaint(HWND window);
LRESULT onSetCursor(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT onLButtonDown(HWND window, int x, int y);
