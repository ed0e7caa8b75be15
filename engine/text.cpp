#include "text.h"

#include <cstdint>

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool isTrail(unsigned char byte)
{
    return byte >= 0x80 && byte <= 0xBF;
}

void appendCodePoint(std::wstring& out, std::uint32_t cp)
{
    if (cp < 0x10000) {
        out.push_back(static_cast<wchar_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// White space as the Windows C runtime's iswspace classifies it.
bool isWideSpace(wchar_t c)
{
    switch (c) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

} // namespace

std::wstring decodeUtf8Portable(const char* nulTerminated)
{
    const auto* p = reinterpret_cast<const unsigned char*>(nulTerminated);
    std::wstring out;
    while (*p != 0) {
        unsigned char lead = *p;
        if (lead < 0x80) {
            out.push_back(static_cast<wchar_t>(lead));
            ++p;
            continue;
        }
        int trailCount;
        std::uint32_t cp;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the first trail byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            trailCount = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trailCount = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0; // overlong
            else if (lead == 0xED)
                high = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trailCount = 3;
            cp = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90; // overlong
            else if (lead == 0xF4)
                high = 0x8F; // above U+10FFFF
        } else {
            out.push_back(kReplacement); // 80-BF, C0, C1, F5-FF
            ++p;
            continue;
        }
        ++p;
        bool bad = false;
        for (int i = 0; i < trailCount; ++i) {
            unsigned char trail = *p;
            if (!isTrail(trail)) {
                bad = true; // read again as the start of what follows
                break;
            }
            ++p;
            if (i == 0 && (trail < low || trail > high)) {
                bad = true; // the trail byte belongs to the bad sequence
                break;
            }
            cp = (cp << 6) | (trail & 0x3F);
        }
        if (bad)
            out.push_back(kReplacement);
        else
            appendCodePoint(out, cp);
    }
    return out;
}

int parseIntPortable(const wchar_t* text)
{
    while (isWideSpace(*text))
        ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = *text == L'-';
        ++text;
    }
    std::int64_t value = 0;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > limit)
            value = limit; // clamp, and keep reading the digits
    }
    return static_cast<int>(negative ? -value : value);
}
