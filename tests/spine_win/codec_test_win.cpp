// The platform's own UTF-8 decoding and _wtoi against the table and the stand-ins the host tools
// and tests rely on.
#include "engine/codec_win.h"
#include "engine/text.h"
#include "tests/common/utf8_cases.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(PlatformDecoding, MultiByteToWideCharMatchesTheTable)
{
    for (const Utf8Case& c : kUtf8Cases)
        EXPECT_EQ(decodeUtf8Win(c.bytes.c_str()), c.units) << c.name;
}

TEST(PlatformDecoding, PortableDecoderAgreesOnEveryShortSequence)
{
    // Every one- and two-byte input, and three-byte inputs over the interesting leads, so that a
    // rule the table misses still shows. Each is followed by ASCII: Wine, unlike Windows, lets a
    // lead byte whose sequence would run past the end of the input swallow what follows it, the
    // terminating NUL included; that case is Wine's alone and is left out here.
    auto check = [](std::string bytes) {
        bytes += "xyz";
        EXPECT_EQ(decodeUtf8Portable(bytes.c_str()), decodeUtf8Win(bytes.c_str()))
            << "bytes " << std::hex << [&] {
                   std::string hex;
                   for (unsigned char b : bytes) {
                       char part[4];
                       std::snprintf(part, sizeof part, "%02X ", b);
                       hex += part;
                   }
                   return hex;
               }();
    };
    for (int a = 1; a < 256; ++a) {
        check(std::string(1, char(a)));
        for (int b = 1; b < 256; ++b)
            check(std::string{char(a), char(b)});
    }
    const int leads[] = {0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEF, 0xF0, 0xF1, 0xF4, 0xF5};
    for (int lead : leads)
        for (int b = 0x70; b < 0xD0; ++b)
            for (int c = 0x70; c < 0xD0; c += 3)
                check(std::string{char(lead), char(b), char(c), 'x'});
}

TEST(PlatformDecoding, EmptyLineDecodesToNothing)
{
    EXPECT_EQ(decodeUtf8Win(""), L"");
}

TEST(PlatformNumbers, WtoiMatchesThePortableStandIn)
{
    const wchar_t* inputs[] = {L"42", L" 7", L"\t\r\n\v\f 9", L"\u00A0" L"5", L"\u3000" L"6", L"12abc",
                               L"abc", L"", L"-5", L"+8", L"- 8", L"--8", L"2147483647", L"-2147483648"};
    for (const wchar_t* input : inputs)
        EXPECT_EQ(_wtoi(input), parseIntPortable(input)) << "input index " << (&input - inputs);
}

} // namespace
