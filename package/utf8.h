#pragma once
// Strict UTF-8, as the list of delivered files, the record and the payload's names must be: no
// overlong form, no surrogate, nothing above U+10FFFF, no sequence cut short. (The installer's
// line protocol decodes leniently, as Windows does; that is engine/text.h, a rule of its own.)
// Windows keeps text as UTF-16 code units; a std::wstring here holds such units on every
// platform, so the host tests see what the Windows programs see.

#include <string>
#include <string_view>

bool isValidUtf8(std::string_view text);

// The UTF-16 units of a valid text; false (and units unspecified) for anything else.
bool decodeUtf8(std::string_view text, std::wstring& units);

void appendUtf8(std::string& out, char32_t code);

// UTF-16 units to UTF-8; a surrogate pair becomes its code point, a lone surrogate is written as
// the value it has.
std::string encodeUtf8(std::wstring_view units);
