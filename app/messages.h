#pragma once
// The four messages by which an installation worker reports to the window, and the heap text
// that travels with three of them. Values are WM_APP (0x8000) plus 1 to 4.

#include <string>

constexpr unsigned WM_INSTALL_PROGRESS = 0x8001; // wParam: percent (int); lParam: 0
constexpr unsigned WM_INSTALL_LINE = 0x8002;     // wParam: 0 status line, 1 log-only; lParam: OwnedText*
constexpr unsigned WM_INSTALL_DONE = 0x8003;     // lParam: OwnedText*, the installed launcher's path
constexpr unsigned WM_INSTALL_ERROR = 0x8004;    // lParam: OwnedText*, the error message

// Allocated by the sender, handed over with the post, destroyed by the window procedure. Wide
// strings hold UTF-16 code units on every platform, also where wchar_t is 32 bits wide.
struct OwnedText {
    std::wstring text;
};
