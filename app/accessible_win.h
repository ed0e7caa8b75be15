#pragma once
// The window as screen readers see it (MSAA, which Windows also bridges to UI Automation): an
// IAccessible for the client area, handed out on WM_GETOBJECT, and the events that tell readers
// of changes. All of it runs on the UI thread.

#include <windows.h>

LRESULT onGetObject(HWND window, WPARAM flags, LPARAM objectId);

// What the new window shows now counts as told; later changes are announced against it.
void startAnnouncing(HWND window);
// Announces what changed in the state since the last call.
void announceChanges(HWND window);
// The button has the focus whenever the window is active.
void announceFocus(HWND window);
// The window is going: a reader that still holds the object gets errors from now on.
void releaseAccessible(HWND window);
