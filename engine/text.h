#pragma once
// Portable stand-ins for the two Windows text functions the line protocol relies on. They follow
// the Windows behaviour, not the Unicode recommendation, so the host tools and tests see exactly
// the texts the installer would show.

#include <string>

// UTF-8 to UTF-16 code units as MultiByteToWideChar(CP_UTF8, 0, text, -1, ...) decodes it: a bad
// lead byte gives one U+FFFD; after a valid lead, trail bytes are taken until the sequence is
// known bad (overlongs, surrogates and values above U+10FFFF are known at the first trail byte),
// one U+FFFD stands for what was taken, and a byte that is no trail byte is read again.
std::wstring decodeUtf8Portable(const char* nulTerminated);

// As _wtoi: skips leading white space, takes an optional sign and decimal digits; no digits give
// 0. Out of range values are clamped to the 32-bit limits.
int parseIntPortable(const wchar_t* text);
