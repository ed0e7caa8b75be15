#pragma once
// The text of the list of delivered files that a package carries beside the uninstaller, and of
// the record the uninstaller keeps in the install folder: UTF-8, one relative path a line, LF
// after each.

#include <string>
#include <string_view>
#include <vector>

// Reads either: a byte order mark is allowed, LF or CR LF, "/" or "\" between segments (given
// back as "/"), blank lines ignored. False when the text is no valid UTF-8 or holds a NUL: such a
// list cannot be trusted at all.
bool parsePathList(std::string_view bytes, std::vector<std::string>& paths);

// The paths in the order given, each followed by LF.
std::string pathListText(const std::vector<std::string>& paths);
