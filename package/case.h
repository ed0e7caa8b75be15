#pragma once
// Letter case as Windows compares file names: NTFS upper-cases both names with one table, the
// simple upper-case mapping of the UTF-16 units of the Basic Multilingual Plane ("\u00e4" and
// "\u00c4" are one name, "\u00df" and "SS" are not). Two paths with the same fold are one file.

#include <string>
#include <string_view>

// The upper-case form of one UTF-16 unit; surrogates and anything above U+FFFF stay as they are.
char32_t windowsUpperCase(char32_t unit);

// A UTF-8 name folded unit by unit; a text that is no valid UTF-8 is returned as it is.
std::string windowsFoldedName(std::string_view utf8);

// Equal but for the case of ASCII letters: how Windows matches device names.
bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b);
