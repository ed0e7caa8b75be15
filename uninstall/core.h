#pragma once
// The uninstaller's decisions, free of Win32: what its command line asks for, the list of files
// the packages delivered and its merge with the one kept on the machine, which recorded paths may
// be touched at all, what a removal deletes and in which order, and every text it shows.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The names of an installation (the launcher, this program, the list a package carries beside it
// and the record it keeps) are the package's, shared with the publisher.
#include "package/names.h"

// A name of package/names.h (all ASCII) as the Win32 calls take it.
std::wstring wideName(std::string_view name);

inline constexpr std::wstring_view kDisplayName = L"ORVAN Launcher";
inline constexpr std::wstring_view kUninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVAN Launcher";
// The switch that skips every dialog, in QuietUninstallString.
inline constexpr std::wstring_view kSilentSwitch = L"/still";

// ---- Command line ----

enum class Mode {
    remove,      // no arguments, as Settings - Apps starts it
    registerApp, // "/registrieren" "/version" V, as the installation script calls it
    finish,      // the copy in the temporary folder, after the original has exited
};

struct Call {
    Mode mode = Mode::remove;
    bool silent = false;
    std::wstring version;
    std::uint64_t waitHandle = 0; // finish: the original's process handle, inherited
    std::wstring installFolder;   // finish: the folder the original worked on
    bool report = false;          // finish: the original showed dialogs, so what stays is shown too
};

// Exit codes: what a caller of the silent uninstaller can tell apart.
enum ExitCode : int {
    kExitDone = 0,
    kExitCancelled = 1,   // the user said no
    kExitBadCall = 2,
    kExitBadRecord = 3,   // the record of delivered files cannot be read; nothing changed
    kExitInUse = 4,       // a file to remove is in use; nothing changed
    kExitIncomplete = 5,  // removed, but some recorded paths were refused or could not go
    kExitRegistry = 6,    // registration failed; the entry is as it was before
    kExitFolderIsLink = 7, // the install folder is a symbolic link or junction; nothing changed
};

// Arguments after the program name. False with a German reason for an unknown switch, a
// switch given twice, "/version" without a value, or a combination that means nothing.
bool parseCommandLine(const std::vector<std::wstring>& args, Call& call, std::wstring& problem);

// The finishing copy's own command line (after its program name); `report` when the original
// was not silent.
std::wstring finishArguments(std::uint64_t waitHandle, std::wstring_view installFolder, bool report = false);

// ---- Paths ----

// A name as Windows compares it: package/case.h, unit by unit. Two names with the same fold are
// one file.
std::wstring foldCase(std::wstring_view text);
bool sameName(std::wstring_view a, std::wstring_view b);

// The folder a program file lies in ("C:\a\b.exe" -> "C:\a").
std::wstring parentFolder(std::wstring_view path);
std::wstring joinPath(std::wstring_view folder, std::wstring_view relative);

// Empty when the uninstaller's own folder may be treated as the install folder: it must be
// named "ORVAN Launcher", so a copy started from Downloads deletes nothing there.
std::wstring installFolderProblem(std::wstring_view folder);

// Empty when a recorded path names a file below the install folder; otherwise a German
// reason. "/" and "\" both separate; the rules are package/paths.h's (lengths aside: a file that
// is there is removed however long its path).
std::wstring recordedPathProblem(std::wstring_view relative);

// True when path lies strictly inside folder (both absolute, backslash-separated), compared
// as Windows compares names; a path with "." or ".." segments is never inside.
bool isInsideFolder(std::wstring_view path, std::wstring_view folder);

// ---- The record of delivered files ----

struct RecordEntry {
    std::wstring path;   // relative, backslash-separated, as read
    std::wstring problem; // empty for a usable path
};

// Reads a list or record in the text of package/path_list.h; each path with "\" between its
// segments. False when the text is no valid UTF-8 or holds a NUL: such a record cannot be
// trusted at all.
bool parseRecord(std::string_view bytes, std::vector<RecordEntry>& entries);

// The union of the record kept on the machine and a package's list, each usable path once
// (first spelling kept), the launcher and the uninstaller always among them. Refused paths are
// dropped, each with its line in `refused`.
std::vector<std::wstring> mergeRecords(const std::vector<RecordEntry>& kept, const std::vector<RecordEntry>& delivered,
                                       std::vector<std::wstring>& refused);

// The record's bytes (package/path_list.h): one path a line, as given.
std::string recordText(const std::vector<std::wstring>& paths);

// ---- The removal ----

struct RemovalPlan {
    std::vector<std::wstring> files;    // relative; each removed by the original
    std::vector<std::wstring> folders;  // relative, deepest first; removed when empty
    std::vector<std::wstring> refused;  // recorded paths that are not touched, with the reason
    std::vector<std::wstring> finishing; // the uninstaller, then the record: the finishing copy's
};

// From the merged record: every usable path but the uninstaller and the record themselves
// (the finishing copy removes those), and every folder that holds one of them. The launcher and
// the uninstaller belong to every installation, whatever the record says.
RemovalPlan planRemoval(const std::vector<RecordEntry>& record);

// Whether a relative path can be reached from the install folder without passing a symbolic link
// or junction. The install folder itself ("") is looked at like every folder below it, each
// folder once. A file that is itself a link is removed as the link.
struct LinkGuard {
    std::function<bool(const std::wstring& folder)> isLink; // relative; "" is the install folder
    std::map<std::wstring, bool> folderSafe;                 // by folded relative folder

    bool folderReachable(const std::wstring& folder);
    bool reachable(const std::wstring& relative) { return folderReachable(parentFolder(relative)); }
};

// ---- Registration values ----

// "20261209"
std::wstring installDateText(int year, int month, int day);
// Bytes to KiB, rounded up, capped at what a DWORD holds.
std::uint32_t estimatedSizeKiB(std::uint64_t bytes);
std::wstring quotedPath(std::wstring_view path);

// ---- Texts ----

namespace text {
inline constexpr std::wstring_view kTitle = L"ORVAN Launcher deinstallieren";
std::wstring confirm(std::wstring_view installFolder);
std::wstring inUse(std::wstring_view fileName);
// The user may not change the file (opening it for writing was denied, not blocked by a program).
std::wstring noAccess(std::wstring_view fileName);
// The install folder is a link; `target` is where it leads, empty when that cannot be read.
std::wstring folderIsLink(std::wstring_view installFolder, std::wstring_view target);
std::wstring badRecord(std::wstring_view recordPath);
std::wstring badCall(std::wstring_view reason);
std::wstring wrongFolder(std::wstring_view folder);
// The closing message: the folder is named when anything stays in it; refused paths and what
// stayed are listed (at most ten each, then how many more).
std::wstring done(std::wstring_view installFolder, bool folderKept, const std::vector<std::wstring>& refused,
                  const std::vector<std::wstring>& failed);
// The lines of `failed`: what stayed, and why.
std::wstring behindLink(std::wstring_view relative);
std::wstring notDeleted(std::wstring_view relative);
std::wstring notReadable(std::wstring_view relative);
std::wstring shortcutKept(std::wstring_view path);
std::wstring entryKept();
std::wstring entryOfOtherFolder(std::wstring_view location);
// The finishing copy's message, when the uninstaller or the record stayed.
std::wstring finishKept(std::wstring_view installFolder, const std::vector<std::wstring>& failed);
} // namespace text
