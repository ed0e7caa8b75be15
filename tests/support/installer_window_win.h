#pragma once
// The real installer window in a test, a helper program or a benchmark: opened with the
// installer's own start-up steps, its messages run, the worker's messages posted to it, and its
// pixels read back.

#include "app/palette.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Fonts, class, mainWindow shown and painted once, as the installer starts (a program that
// declares its DPI awareness does that first, as the installer does).
void openInstallerWindow();

// Dispatches this thread's messages until `done` holds or the time is up; false on time-out.
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 30000);
// Runs the messages for a while, as the installer's loop would.
void pumpFor(DWORD milliseconds);

// What a worker posts: the text, if any, handed over as OwnedText, as the window procedure frees it.
bool postToWindow(UINT message, WPARAM wParam, const wchar_t* text);

// A top-down 32-bit picture in a memory DC, to paint a frame into or copy the window into.
struct Picture {
    Picture(int width, int height);
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // As a COLORREF, so that it compares with the palette.
    Color at(int x, int y) const;
    bool contains(Color color, int left, int top, int right, int bottom) const;

    int width;
    int height;
    HDC screen;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    std::uint32_t* bits = nullptr;
};

// The window's client area as it is on the screen now, from its top-left corner.
void copyWindowInto(Picture& picture);

// A pixel read back as 0x00RRGGBB, as a COLORREF.
Color pixelColor(std::uint32_t pixel);
// A colour as six hex digits, for readable failures.
std::string hex(Color color);

// A file beside this program.
std::wstring besideThisProgram(const wchar_t* name);
// Starts a program; with `output`, an inheritable handle, its standard output and error go there
// and it gets no console. Its process handle, null when it could not be started.
HANDLE startProgram(std::wstring commandLine, HANDLE output = nullptr);

// Runs a Linux program of the machine Wine runs on (xdotool, import); its exit status when waited
// for, -1 when this is not Wine.
int runUnixProgram(std::vector<std::string> argv, bool wait = true);
