#pragma once
// What a path in a package may be: a file below the install folder that Windows creates under
// exactly that name. The installer's publisher refuses a payload that breaks these rules, and the
// uninstaller touches no recorded path that does. Paths are UTF-8 with "/" between segments, as
// in the package; each program says in its own words what is wrong.

#include <cstddef>
#include <string_view>

// ---- One name ----

enum class NameFault {
    none,
    empty,
    dots,               // "." or ".."
    character,          // a control character or one of <>:"/\|?*
    trailingDotOrBlank, // Windows drops it and reaches another file
    device,             // CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9, COM and LPT with ¹ ² ³
};

struct NameCheck {
    NameFault fault = NameFault::none;
    char character = 0; // the forbidden character
};

// One segment of a path, or any other file name Windows would have to create.
NameCheck checkWindowsName(std::string_view name);

// The first character Windows forbids in a file name, npos when there is none.
std::size_t forbiddenCharacterAt(std::string_view text);

// Windows opens a device for these names in any folder, with or without an extension.
bool isDeviceName(std::string_view name);

// ---- A relative path ----

enum class PathFault {
    none,
    empty,
    backslash, // Windows reads it as a separator
    absolute,  // begins with "/"
    drive,     // begins with a drive, "C:"
    climbsOut, // a segment Windows reads as "..": also "..." and ".. "
    segment,   // a segment breaks a rule of names (`name` says which)
};

struct PathCheck {
    PathFault fault = PathFault::none;
    std::string_view segment; // the segment at fault
    NameCheck name;
};

// Climbing out is looked for first in every segment: it is the worst a path can do, and the one
// its reader must see named. Lengths are a rule of their own (below).
PathCheck checkPayloadPath(std::string_view relative);

// ---- Lengths ----
// Without long path support, which a default Windows lacks, a file's path must stay below 260
// UTF-16 units and a folder's below 248. The install folder lies in the user's profile,
// "C:\Users\" and the account name: a payload path must fit below a profile of this length.
inline constexpr std::size_t kAssumedProfileLength = 60;
inline constexpr std::size_t kMaxWindowsPath = 259;
inline constexpr std::size_t kMaxWindowsFolderPath = 247;

struct PathLengths {
    std::size_t file = 0;   // "<profile>\ORVAN Launcher\" and the path, in UTF-16 units
    std::size_t folder = 0; // the same for the folder the file lies in
};

PathLengths payloadPathLengths(std::string_view relative);
bool fitsWithoutLongPaths(const PathLengths& lengths);

// ---- Names the programs keep for themselves ----

// The names of the list of delivered files and of the uninstaller's record, in any letter case,
// as any segment of the path: the publisher writes the one and the uninstaller keeps the other
// in the install folder, and no payload file or folder may stand in their way.
bool isReservedPayloadPath(std::string_view relative);
