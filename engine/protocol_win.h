#pragma once
// The line protocol's hand-over to the installer window.

#include "messages.h"

#include <windows.h>

#include <string>
#include <string_view>

// The window every message goes to. Written once on the UI thread right after CreateWindowExW,
// before any worker exists; workers only read it to post their messages.
extern HWND mainWindow;

// Posts a message with a new OwnedText to mainWindow; frees the text when the post fails.
bool postInstallText(UINT message, WPARAM wParam, std::wstring text);

// Trims, decodes and posts one protocol line (without its line feed). Returns the message it
// posted, or 0 for a line that posts nothing or whose post failed.
UINT dispatchScriptLine(std::string_view line);
// The same, keeping the failure class a "@KLASSE" line names for the "@ERR" line after it.
UINT dispatchScriptLine(std::string_view line, FailureClass& failure);
