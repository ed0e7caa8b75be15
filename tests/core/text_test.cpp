#include "engine/text.h"
#include "tests/common/utf8_cases.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(DecodeUtf8Portable, FollowsTheWindowsReplacementRule)
{
    for (const Utf8Case& c : kUtf8Cases)
        EXPECT_EQ(decodeUtf8Portable(c.bytes.c_str()), c.units) << c.name;
}

TEST(DecodeUtf8Portable, StopsAtNul)
{
    const char text[] = "ab\0cd";
    EXPECT_EQ(decodeUtf8Portable(text), L"ab");
}

TEST(ParseIntPortable, ReadsLikeWtoi)
{
    EXPECT_EQ(parseIntPortable(L"42"), 42);
    EXPECT_EQ(parseIntPortable(L" 7"), 7);
    EXPECT_EQ(parseIntPortable(L"\t\r\n\v\f 9"), 9);
    EXPECT_EQ(parseIntPortable(L"\u00A0\u3000" L"5"), 5);
    EXPECT_EQ(parseIntPortable(L"12abc"), 12);
    EXPECT_EQ(parseIntPortable(L"abc"), 0);
    EXPECT_EQ(parseIntPortable(L""), 0);
    EXPECT_EQ(parseIntPortable(L"-5"), -5);
    EXPECT_EQ(parseIntPortable(L"+8"), 8);
    EXPECT_EQ(parseIntPortable(L"- 8"), 0);
    EXPECT_EQ(parseIntPortable(L"--8"), 0);
    EXPECT_EQ(parseIntPortable(L"2147483647"), INT_MAX);
    EXPECT_EQ(parseIntPortable(L"-2147483648"), INT_MIN);
    EXPECT_EQ(parseIntPortable(L"99999999999999999999999"), INT_MAX);
    EXPECT_EQ(parseIntPortable(L"-99999999999"), INT_MIN);
}

} // namespace
