#pragma once
// The uninstaller's Win32 side: registration with Windows, the removal and the finishing copy.

#include "uninstall/core.h"

#include <windows.h>

#include <string>
#include <vector>

// The run's one record; the program has one thread.
struct UninstallRun {
    Call call;
    std::wstring programPath;   // this executable
    std::wstring installFolder; // the folder it lies in (the finishing copy: the one it was given)
};

extern UninstallRun uninstallRun;

int registerApp();
int removeInstallation();
int finishRemoval();

// A dialog in the uninstaller's own title, none under the silent switch; returns MessageBoxW's
// answer, or IDOK when nothing was shown.
int showMessage(const std::wstring& text, UINT flags);

// ---- Files (files_win.cpp) ----

enum class ReadOutcome { ok, missing, failed };
ReadOutcome readWholeFile(const std::wstring& path, std::string& bytes);
// Written beside the target and moved over it, so a reader meets the old or the new text.
// What lay under the new file's name before (a link, a hard link, a stale copy) is deleted as
// that name, never written through.
bool replaceFile(const std::wstring& path, const std::string& bytes);
// The bytes of every file below folder; links and junctions are not followed.
std::uint64_t folderSize(const std::wstring& folder);
// INVALID_FILE_ATTRIBUTES when it does not exist or cannot be looked at (GetLastError tells).
DWORD attributesOf(const std::wstring& path);
bool isReparsePoint(DWORD attributes);
// The error of a path that is not there, as against one that may not be looked at.
bool isMissingError(DWORD error);
// Sets the attributes of the file or link itself: a link's target is never touched.
bool setOwnAttributes(const std::wstring& path, DWORD attributes);
// Where a folder that is a link leads, as a plain path; empty when that cannot be read.
std::wstring linkTarget(const std::wstring& folder);
