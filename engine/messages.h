#pragma once
// The messages posted to the installer window: the four by which an installation worker reports
// (the line protocol produces them), with the heap text that travels with three of them, and the
// press of the button that a screen reader asks for. Values are WM_APP (0x8000) and above.

#include <string>

constexpr unsigned WM_INSTALL_PROGRESS = 0x8001; // wParam: percent (int); lParam: 0
constexpr unsigned WM_INSTALL_LINE = 0x8002;     // wParam: 0 status line, 1 log-only; lParam: OwnedText*
constexpr unsigned WM_INSTALL_DONE = 0x8003;     // lParam: OwnedText*, the installed launcher's path
constexpr unsigned WM_INSTALL_ERROR = 0x8004;    // wParam: FailureClass; lParam: OwnedText*, the error message
// Posted to the window by a screen reader's default action on the button; no parameters.
constexpr unsigned WM_PRESS_BUTTON = 0x8010;

// What kind of failure ended an attempt, as far as a caller of the unattended installer can act
// on it. The script names it in a line "@KLASSE <name>" just before its "@ERR" line; the worker's
// own failures are `other`, except that another installation is running, which both find.
enum class FailureClass : int {
    other = 0, // "sonst"
    network,   // "netz": the server cannot be reached
    inUse,     // "belegt": the launcher or another file is in use
    diskFull,  // "speicher": no room on the disk
    check,     // "pruefung": a digest, the signature or the manifest's date is wrong: the release is
    running,   // "laeuft": another installation is running (the script's lock or the worker's mutex)
};

// Allocated by the sender, handed over with the post, destroyed by the window procedure. Wide
// strings hold UTF-16 code units on every platform, also where wchar_t is 32 bits wide.
struct OwnedText {
    std::wstring text;
};
