#include "package/utf8.h"

namespace {

// The bytes a sequence takes by its first byte; 0 for a byte no sequence starts with (a trail
// byte, the overlong leads C0 and C1, and F5 to FF, which would lie above U+10FFFF).
std::size_t sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead < 0xC2)
        return 0;
    return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
}

// Reads the code point at `at` and moves past it; false for a malformed sequence.
bool nextCodePoint(std::string_view text, std::size_t& at, char32_t& code)
{
    std::size_t length = sequenceLength(static_cast<unsigned char>(text[at]));
    if (length == 0 || text.size() - at < length)
        return false;
    code = static_cast<unsigned char>(text[at]) & (length == 1 ? 0x7F : 0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        auto trail = static_cast<unsigned char>(text[at + k]);
        if ((trail & 0xC0) != 0x80)
            return false;
        code = (code << 6) | (trail & 0x3F);
    }
    // The least value each length may carry; anything below it has a shorter form.
    static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return false;
    at += length;
    return true;
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    char32_t code = 0;
    for (std::size_t at = 0; at < text.size();)
        if (!nextCodePoint(text, at, code))
            return false;
    return true;
}

bool decodeUtf8(std::string_view text, std::wstring& units)
{
    units.clear();
    char32_t code = 0;
    for (std::size_t at = 0; at < text.size();) {
        if (!nextCodePoint(text, at, code))
            return false;
        if (code < 0x10000) {
            units += static_cast<wchar_t>(code);
        } else {
            units += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
    }
    return true;
}

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
        return;
    }
    // Six bits a trail byte; the lead carries the rest behind its length marker.
    int trails = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static constexpr unsigned char marker[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(marker[trails] | (code >> (6 * trails)));
    for (int k = trails - 1; k >= 0; --k)
        out += static_cast<char>(0x80 | ((code >> (6 * k)) & 0x3F));
}

std::string encodeUtf8(std::wstring_view units)
{
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code = static_cast<char32_t>(units[i]) & 0xFFFF;
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < units.size()) {
            char32_t low = static_cast<char32_t>(units[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        appendUtf8(out, code);
    }
    return out;
}
