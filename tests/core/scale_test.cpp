#include "app/scale.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::int32_t eightPerCharacter(FontRole, std::wstring_view text)
{
    return static_cast<std::int32_t>(8 * text.size());
}

TEST(Scale, RoundsToTheNearestPixelHalvesUp)
{
    struct Case {
        std::int64_t value;
        int dpi;
        std::int32_t expected;
    } cases[] = {
        {640, 96, 640},  {640, 120, 800},  {640, 144, 960}, {640, 192, 1280}, {460, 144, 690},
        {91, 144, 137},  {92, 144, 138},   {93, 144, 140},  {7, 120, 9},      {6, 120, 8},
        {1, 144, 2},     {1, 120, 1},      {3, 120, 4},     {-1, 144, -1},    {-3, 144, -4},
        {-58, 120, -72}, {-60, 144, -90},  {13, 110, 15},   {0, 192, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(scaled(c.value, c.dpi), c.expected) << c.value << " at " << c.dpi;
}

TEST(Scale, UnscaledGivesBackTheDesignUnits)
{
    for (int dpi : {96, 110, 120, 144, 168, 192, 240, 288}) {
        for (std::int64_t v : {0, 1, 7, 91, 460, 640}) {
            EXPECT_EQ(unscaled(scaled(v, dpi), dpi), v) << v << " at " << dpi;
        }
    }
    EXPECT_EQ(unscaled(137, 144), 91);
}

TEST(Scale, FontHeightsKeepTheirSign)
{
    EXPECT_EQ(scaledFontHeight(-13, 96), -13);
    EXPECT_EQ(scaledFontHeight(-13, 144), -20);
    EXPECT_EQ(scaledFontHeight(-30, 120), -38);
    EXPECT_EQ(scaledFontHeight(-14, 192), -28);
    EXPECT_EQ(scaledFontHeight(12, 144), 18);
}

// Two fills that share an edge at 96 DPI share it at every DPI: neither a gap nor an overlap.
TEST(Scale, TouchingShapesStayTouching)
{
    for (int dpi : {110, 120, 125, 144, 168, 192, 216}) {
        for (std::int32_t edge = -20; edge < 700; ++edge) {
            PixelRect before = scaledRect({edge - 5, 0, edge, 1}, dpi);
            PixelRect after = scaledRect({edge, 0, edge + 3, 1}, dpi);
            ASSERT_EQ(before.right, after.left) << "edge " << edge << " at " << dpi;
            ASSERT_LE(before.left, before.right);
        }
    }
}

TEST(Scale, AtNinetySixDpiTheFrameIsUntouched)
{
    InstallerState state;
    setButtonRects(state);
    state.busy = true;
    state.progress = 42;
    state.animTick = 17;
    pushLogLine(state, L"eins");
    std::vector<DrawOp> frame = composeFrame(state, 640, 460, eightPerCharacter);
    std::vector<DrawOp> scaledFrame = frame;
    scaleFrame(scaledFrame, 96);
    ASSERT_EQ(scaledFrame.size(), frame.size());
    for (std::size_t i = 0; i < frame.size(); ++i) {
        EXPECT_EQ(scaledFrame[i].rect.left, frame[i].rect.left);
        EXPECT_EQ(scaledFrame[i].rect.bottom, frame[i].rect.bottom);
        EXPECT_EQ(scaledFrame[i].x, frame[i].x);
        EXPECT_EQ(scaledFrame[i].characterExtra, frame[i].characterExtra);
    }
}

TEST(Scale, FrameAt144Dpi)
{
    InstallerState state;
    setButtonRects(state);
    std::vector<DrawOp> frame = composeFrame(state, 640, 460, eightPerCharacter);
    scaleFrame(frame, 144);
    // The background covers the scaled client area; the panel's one-pixel edges become one or two
    // pixels, by where they fall.
    EXPECT_EQ(frame[0].rect.right, 960);
    EXPECT_EQ(frame[0].rect.bottom, 690);
    bool title = false;
    for (const DrawOp& op : frame) {
        if (op.kind == DrawKind::Text && op.text == L"ORVAN LAUNCHER") {
            title = true;
            EXPECT_EQ(op.x, 69);
            EXPECT_EQ(op.y, 33);
            EXPECT_EQ(op.characterExtra, 2);
        }
    }
    EXPECT_TRUE(title);
    PixelRect button = scaledRect(state.actionButtonRect, 144);
    EXPECT_EQ(button.left, 615);
    EXPECT_EQ(button.top, 597);
    EXPECT_EQ(button.right, 915);
    EXPECT_EQ(button.bottom, 651);
}

} // namespace
