#pragma once
// Malformed and well-formed UTF-8 with the UTF-16 that Windows' MultiByteToWideChar(CP_UTF8, 0)
// makes of it. The host tests hold the portable decoder to this table and the Win32 tests hold
// the real function to it, so the two cannot drift apart.

#include <string>

struct Utf8Case {
    const char* name;
    std::string bytes;
    std::wstring units;
};

inline const Utf8Case kUtf8Cases[] = {
    {"ascii", "@S Fertig", L"@S Fertig"},
    {"two-byte", "J\xC3\xBCrgen", L"J\u00FCrgen"},
    {"three-byte", "\xE2\x82\xAC", L"\u20AC"},
    {"four-byte as surrogate pair", "\xF0\x9F\x98\x80", std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}},
    {"largest code point", "\xF4\x8F\xBF\xBF", std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)}},
    {"byte-order mark stays", "\xEF\xBB\xBF@S x", L"\uFEFF@S x"},
    {"lone trail byte", "a\x81z", L"a\uFFFDz"},
    {"lone lead bytes C0 C1 F5 FF", "\xC0\xC1\xF5\xFF", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"overlong slash", "\xC0\xAF", L"\uFFFD\uFFFD"},
    {"surrogate caught at first trail", "\xED\xA0\x80", L"\uFFFD\uFFFD"},
    {"overlong four-byte", "\xF0\x80\x80\x80", L"\uFFFD\uFFFD\uFFFD"},
    {"overlong three-byte", "\xE0\x80\x80", L"\uFFFD\uFFFD"},
    {"above U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD"},
    {"breaking byte read again", "\xE2\x82\x41", L"\uFFFDA"},
    {"two-byte lead then ASCII", "\xC3\x41", L"\uFFFDA"},
    {"truncated at the end", "x\xE2\x82", L"x\uFFFD"},
    {"lead after lead", "\xC3\xC3\xA4", L"\uFFFD\u00E4"},
    {"four-byte cut by ASCII", "\xF0\x9F\x98!", L"\uFFFD!"},
};
