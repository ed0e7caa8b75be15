#include "app/frame.h"
#include "app/scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace {

// A monospaced stand-in for the platform's measuring: 8 pixels a character.
std::int32_t eightPerCharacter(FontRole, std::wstring_view text)
{
    return static_cast<std::int32_t>(8 * text.size());
}

InstallerState inState(bool busy, bool done, bool failed, int progress)
{
    InstallerState state;
    setButtonRects(state);
    state.busy = busy;
    state.done = done;
    state.failed = failed;
    state.progress = progress;
    return state;
}

InstallerState ready() { return inState(false, false, false, 0); }
InstallerState installing(int progress) { return inState(true, false, false, progress); }
InstallerState failedAt(int progress) { return inState(false, false, true, progress); }
InstallerState finished() { return inState(false, true, false, 100); }

std::vector<DrawOp> compose(const InstallerState& state)
{
    return composeFrame(state, 640, 460, eightPerCharacter);
}

std::vector<DrawOp> ofKind(const std::vector<DrawOp>& frame, DrawKind kind)
{
    std::vector<DrawOp> picked;
    for (const DrawOp& op : frame)
        if (op.kind == kind)
            picked.push_back(op);
    return picked;
}

const DrawOp* textAt(const std::vector<DrawOp>& frame, int x, int y)
{
    for (const DrawOp& op : frame)
        if (op.kind == DrawKind::Text && op.x == x && op.y == y)
            return &op;
    return nullptr;
}

bool hasFill(const std::vector<DrawOp>& frame, Color color, PixelRect r)
{
    for (const DrawOp& op : frame)
        if (op.kind == DrawKind::Fill && op.color == color && op.rect.left == r.left && op.rect.top == r.top &&
            op.rect.right == r.right && op.rect.bottom == r.bottom)
            return true;
    return false;
}

bool hasHighlight(const std::vector<DrawOp>& frame)
{
    for (const DrawOp& op : frame)
        if (op.kind == DrawKind::Fill && op.color == kColorHighlight)
            return true;
    return false;
}

// Fills run in the listed order; the fill after the scanlines is the header band.
TEST(Frame, FillAndTextCountsInEveryState)
{
    for (const InstallerState& state : {ready(), installing(0), failedAt(27), finished()}) {
        auto frame = compose(state);
        EXPECT_EQ(ofKind(frame, DrawKind::Fill).size(), 155u);
        EXPECT_EQ(ofKind(frame, DrawKind::Text).size(), 6u); // no log lines yet
    }
    InstallerState busy = installing(50);
    busy.animTick = 1; // a = 7, well inside f = 290
    for (int i = 0; i < 12; ++i)
        pushLogLine(busy, L"Zeile " + std::to_wstring(i));
    auto frame = compose(busy);
    EXPECT_EQ(ofKind(frame, DrawKind::Fill).size(), 156u);
    EXPECT_EQ(ofKind(frame, DrawKind::Text).size(), 13u);
    EXPECT_TRUE(hasFill(frame, kColorHighlight, {37, 160, 57, 176}));
}

TEST(Frame, BackgroundScanlinesAndHeaderInOrder)
{
    auto fills = ofKind(compose(ready()), DrawKind::Fill);
    ASSERT_GE(fills.size(), 130u);
    EXPECT_EQ(fills[0].color, palette.colorBackground);
    for (int i = 0; i < 123; ++i) {
        EXPECT_EQ(fills[1 + i].color, palette.colorScanline);
        EXPECT_EQ(fills[1 + i].rect.top, 92 + 3 * i);
        EXPECT_EQ(fills[1 + i].rect.bottom, 93 + 3 * i);
    }
    EXPECT_EQ(fills[124].rect.bottom, 92); // header band over the background
    EXPECT_EQ(fills[127].color, palette.colorAccent);
    // No scanline at all when the client area ends above row 93.
    auto small = ofKind(composeFrame(ready(), 640, 92, eightPerCharacter), DrawKind::Fill);
    EXPECT_EQ(small.size(), 155u - 123u);
}

TEST(Frame, TravellingSegment)
{
    InstallerState state = ready();
    EXPECT_TRUE(hasFill(compose(state), palette.colorAccent, {-60, 0, 0, 2})) << "animTick 0: not visible";
    state.animTick = 10;
    EXPECT_TRUE(hasFill(compose(state), palette.colorAccent, {0, 0, 60, 2})) << "columns 0-59";
    state.animTick = 127; // 762 mod 760
    EXPECT_TRUE(hasFill(compose(state), palette.colorAccent, {-58, 0, 2, 2}));
}

TEST(Frame, StateDependentChoices)
{
    struct Case {
        InstallerState state;
        const wchar_t* heading;
        Color headingColor, fillColor, statusColor, face, stripe, labelColor;
        const wchar_t* label;
    } cases[] = {
        {ready(), L"BEREIT ZUR INSTALLATION", palette.colorText, palette.colorAccent, palette.colorTextDim,
         palette.colorAccentDark, kColorStripe, kColorLabel, L"INSTALLIEREN"},
        {installing(40), L"INSTALLIERE ...", palette.colorText, palette.colorAccent, palette.colorAccent,
         kColorButtonBusy, kColorStripe, palette.colorTextFaint, L"INSTALLIEREN"},
        {failedAt(40), L"FEHLER", palette.colorAccent, palette.colorAccentDark, palette.colorTextDim,
         palette.colorAccentDark, kColorStripe, kColorLabel, L"NOCHMAL VERSUCHEN"},
        {finished(), L"INSTALLATION ABGESCHLOSSEN", palette.colorSuccess, palette.colorAccent, palette.colorTextDim,
         palette.colorSuccess, kColorStripeDone, kColorLabelDone, L"ORVAN LAUNCHER STARTEN"},
    };
    for (const Case& c : cases) {
        auto frame = compose(c.state);
        const DrawOp* heading = textAt(frame, 30, 120);
        ASSERT_NE(heading, nullptr);
        EXPECT_EQ(heading->text, c.heading);
        EXPECT_EQ(heading->color, c.headingColor);
        EXPECT_EQ(heading->font, FontRole::Heading);
        EXPECT_EQ(heading->characterExtra, 1);
        std::int32_t f = static_cast<std::int32_t>(fillWidth(c.state.progress, 640));
        EXPECT_TRUE(hasFill(frame, c.fillColor, {30, 160, 30 + f, 176})) << c.heading;
        const DrawOp* status = textAt(frame, 30, 190);
        ASSERT_NE(status, nullptr);
        EXPECT_EQ(status->color, c.statusColor);
        EXPECT_TRUE(hasFill(frame, c.face, {410, 398, 610, 434})) << c.heading;
        EXPECT_TRUE(hasFill(frame, c.stripe, {410, 398, 414, 434})) << c.heading;
        std::wstring label = c.label;
        const DrawOp* text = textAt(frame, 504 - static_cast<int>(8 * label.size()) / 2, 407);
        ASSERT_NE(text, nullptr) << c.heading;
        EXPECT_EQ(text->text, label);
        EXPECT_EQ(text->color, c.labelColor);
        EXPECT_EQ(text->font, FontRole::Button);
        // The start label does not fit with the extra (see the test below).
        EXPECT_EQ(text->characterExtra, c.state.done ? 0 : 2);
    }
    // Finished with failed still set (it is never cleared by success): done decides.
    auto frame = compose(inState(false, true, true, 100));
    EXPECT_EQ(textAt(frame, 30, 120)->text, L"INSTALLATION ABGESCHLOSSEN");
    EXPECT_TRUE(hasFill(frame, palette.colorAccentDark, {30, 160, 610, 176})) << "failed picks the fill colour";
}

TEST(Frame, ButtonLabelIsPlacedFromTheMeasuredWidth)
{
    InstallerState state = finished();
    state.launchButtonRect = {100, 300, 301, 341};
    auto frame = composeFrame(state, 640, 460, [](FontRole font, std::wstring_view) {
        EXPECT_EQ(font, FontRole::Button);
        return 175;
    });
    // (100 + 301) / 2 - 175 / 2 - 6 = 200 - 87 - 6; (300 + 341) / 2 - 9 = 311.
    EXPECT_NE(textAt(frame, 107, 311), nullptr);
}

TEST(Frame, ALabelThatWouldLeaveTheButtonLosesItsCharacterExtra)
{
    // Courier New bold at 14 pixels: 8 pixels a character. Widened by 2 per character the start
    // label is 220 pixels on a 200-pixel button; without the extra it fits.
    auto frame = compose(finished());
    const DrawOp* label = textAt(frame, 504 - 88, 407);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->characterExtra, 0);
    EXPECT_LE(label->x + 8 * 22, 610);

    frame = compose(inState(false, false, true, 40));
    label = textAt(frame, 504 - 68, 407);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text, L"NOCHMAL VERSUCHEN");
    EXPECT_EQ(label->characterExtra, 2) << "170 pixels with the extra still fit";
}

TEST(Frame, ProgressFillAndPercentage)
{
    struct Case {
        int progress;
        PixelRect fill;
        const wchar_t* percent;
    } cases[] = {
        {0, {30, 160, 30, 176}, L"0%"},
        {1, {30, 160, 35, 176}, L"1%"},
        {74, {30, 160, 459, 176}, L"74%"},
        {100, {30, 160, 610, 176}, L"100%"},
        {150, {30, 160, 900, 176}, L"150%"},
        // Reversed (30, 160, -28, 176): the columns 0 ... 30 as the drawing layer fills them.
        {-10, {-27, 160, 31, 176}, L"-10%"},
        {1234567, {30, 160, 1 << 20, 176}, L"1234567"},
        {12345678, {30, 160, 1 << 20, 176}, L"1234567"},
        {INT_MIN, {-(1 << 20), 160, 31, 176}, L"-214748"},
    };
    for (const Case& c : cases) {
        auto frame = compose(installing(c.progress));
        EXPECT_TRUE(hasFill(frame, palette.colorAccent, c.fill)) << c.progress;
        const DrawOp* percent = textAt(frame, 566, 134);
        ASSERT_NE(percent, nullptr);
        EXPECT_EQ(percent->text, c.percent);
        EXPECT_EQ(percent->color, palette.colorTextDim);
        // animTick 0 gives a = 0, which shows only where f > 20.
        EXPECT_EQ(hasHighlight(frame), fillWidth(c.progress, 640) > 20) << c.progress;
    }
    EXPECT_EQ(fillWidth(3, 640), 17);
    EXPECT_EQ(fillWidth(50, 640), 290);
    EXPECT_EQ(fillWidth(-10, 640), -58);
}

TEST(Frame, HighlightOnlyWhileInstallingAndInsideTheFill)
{
    // progress 4: f = 23, d = 24; shown only while 7 x animTick mod 24 is 0, 1 or 2.
    for (int tick = 0; tick < 48; ++tick) {
        InstallerState state = installing(4);
        state.animTick = tick;
        int a = 7 * tick % 24;
        EXPECT_EQ(hasHighlight(compose(state)), a <= 2) << "tick " << tick;
    }
    for (int progress : {0, 3, -10}) {
        InstallerState state = installing(progress);
        for (int tick = 0; tick < 30; ++tick) {
            state.animTick = tick;
            EXPECT_FALSE(hasHighlight(compose(state))) << progress << " tick " << tick;
        }
    }
    InstallerState state = installing(50);
    state.animTick = 3;
    EXPECT_TRUE(hasFill(compose(state), kColorHighlight, {51, 160, 71, 176}));
    for (InstallerState other : {failedAt(50), finished(), inState(true, true, false, 50)}) {
        other.animTick = 3;
        EXPECT_FALSE(hasHighlight(compose(other)));
    }
}

TEST(Frame, AnimTickNearThe32BitLimit)
{
    for (std::int32_t tick : {INT_MAX, INT_MAX - 1, INT_MIN, INT_MIN + 1, 357913942}) {
        InstallerState state = installing(INT_MAX);
        state.animTick = tick;
        auto frame = compose(state);
        std::int64_t o = std::int64_t{6} * tick % 760;
        EXPECT_TRUE(hasFill(frame, palette.colorAccent, {static_cast<int>(o - 60), 0, static_cast<int>(o), 2})) << tick;
        // A negative tick gives a negative offset, still left of the fill's end: drawn.
        EXPECT_EQ(ofKind(frame, DrawKind::Fill).size(), 156u) << tick;
    }
    EXPECT_EQ(segmentEnd(INT_MAX, 640), std::int64_t{6} * INT_MAX % 760);
    EXPECT_EQ(highlightOffset(INT_MAX, 869), std::int64_t{7} * INT_MAX % 870);
}

TEST(Frame, LogShowsTheLastSevenNewestBright)
{
    InstallerState state = ready();
    auto texts = ofKind(compose(state), DrawKind::Text);
    for (const DrawOp& op : texts)
        EXPECT_NE(op.x, 44) << "no log line while the log is empty";

    pushLogLine(state, L"eins");
    auto one = compose(state);
    const DrawOp* only = textAt(one, 44, 228);
    ASSERT_NE(only, nullptr);
    EXPECT_EQ(only->color, palette.colorText);
    EXPECT_EQ(only->font, FontRole::Mono);
    EXPECT_EQ(only->characterExtra, 0);

    for (int i = 2; i <= 8; ++i)
        pushLogLine(state, L"Zeile " + std::to_wstring(i));
    auto frame = compose(state);
    for (int k = 0; k < 7; ++k) {
        const DrawOp* line = textAt(frame, 44, 228 + 18 * k);
        ASSERT_NE(line, nullptr) << k;
        EXPECT_EQ(line->text, L"Zeile " + std::to_wstring(k + 2));
        EXPECT_EQ(line->color, k == 6 ? palette.colorText : palette.colorTextFaint);
    }
    EXPECT_EQ(textAt(frame, 44, 228 + 18 * 7), nullptr);
}

TEST(Frame, CornerBracketsCoverTheirPixelTable)
{
    auto fills = ofKind(compose(ready()), DrawKind::Fill);
    ASSERT_EQ(fills.size(), 155u);
    // The last twelve fills: arm, arm, square per corner, as inclusive ranges.
    const PixelRect expected[12] = {
        {6, 6, 21, 7},       {6, 6, 7, 21},       {9, 9, 13, 13},
        {619, 6, 634, 7},    {633, 6, 634, 21},   {626, 9, 630, 13},
        {6, 453, 21, 454},   {6, 439, 7, 454},    {9, 446, 13, 450},
        {619, 453, 634, 454}, {633, 439, 634, 454}, {626, 446, 630, 450},
    };
    for (int i = 0; i < 12; ++i) {
        const DrawOp& op = fills[143 + i];
        EXPECT_EQ(op.color, i % 3 == 2 ? palette.colorAccent : palette.colorAccentDark) << i;
        EXPECT_EQ(op.rect.left, expected[i].left) << i;
        EXPECT_EQ(op.rect.top, expected[i].top) << i;
        EXPECT_EQ(op.rect.right, expected[i].right) << i;
        EXPECT_EQ(op.rect.bottom, expected[i].bottom) << i;
    }
}

TEST(Frame, FixedTextsAndPanel)
{
    auto frame = compose(ready());
    const DrawOp* title = textAt(frame, 46, 22);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text, L"ORVAN LAUNCHER");
    EXPECT_EQ(title->font, FontRole::Title);
    EXPECT_EQ(title->characterExtra, 1);
    const DrawOp* subtitle = textAt(frame, 48, 58);
    ASSERT_NE(subtitle, nullptr);
    EXPECT_EQ(subtitle->text, L"NORDALIS // INSTALLATION");
    EXPECT_EQ(subtitle->color, palette.colorAccentDark);
    EXPECT_EQ(subtitle->font, FontRole::Subtitle);
    EXPECT_EQ(subtitle->characterExtra, 3);
    EXPECT_EQ(textAt(frame, 30, 190)->text, L"Bereit.");
    EXPECT_TRUE(hasFill(frame, palette.colorBorder, {0, 91, 640, 92}));
    EXPECT_TRUE(hasFill(frame, palette.colorBorder, {609, 218, 610, 374}));
    EXPECT_TRUE(hasFill(frame, palette.colorAccentDeep, {30, 218, 33, 374}));
    // Right-hand positions follow the client width.
    auto wide = composeFrame(ready(), 800, 500, eightPerCharacter);
    EXPECT_NE(textAt(wide, 726, 134), nullptr);
    EXPECT_TRUE(hasFill(wide, palette.colorBorder, {30, 160, 770, 161}));
    EXPECT_TRUE(hasFill(wide, palette.colorAccent, {786, 486, 790, 490}));
}

} // namespace

namespace {

TEST(FocusFrame, ARingOutsideTheButtonOnlyAfterKeyboardUse)
{
    InstallerState state = ready();
    EXPECT_FALSE(hasFill(compose(state), kColorFocusFrame, {407, 395, 613, 396}));
    state.focusFrame = true;
    auto frame = compose(state);
    EXPECT_EQ(ofKind(frame, DrawKind::Fill).size(), 155u + 4u);
    EXPECT_TRUE(hasFill(frame, kColorFocusFrame, {407, 395, 613, 396}));
    EXPECT_TRUE(hasFill(frame, kColorFocusFrame, {407, 436, 613, 437}));
    EXPECT_TRUE(hasFill(frame, kColorFocusFrame, {407, 396, 408, 436}));
    EXPECT_TRUE(hasFill(frame, kColorFocusFrame, {612, 396, 613, 436}));
}

} // namespace

namespace {

TEST(Frame, ALabelWiderThanTheFactorStaysRightOfTheStripeWhenScaled)
{
    // The start label as measured at 144 DPI and handed over in 96-DPI units: 191 wide. The
    // design's frame places it by the formula alone, 504 - 191 / 2; scaled, it keeps the 2
    // pixels to the stripe (410 + 4 + 2 at 96 DPI: 621 + 3 at 144).
    auto frame = composeFrame(finished(), 640, 460, [](FontRole, std::wstring_view) { return 191; });
    EXPECT_NE(textAt(frame, 409, 407), nullptr);
    scaleFrame(frame, 144);
    EXPECT_NE(textAt(frame, 624, 611), nullptr);
}

TEST(Frame, TheScaledLabelKeepsItsRoomToTheStripeInAnyOrderOfTheFrame)
{
    // The same label with the drawing operations the other way round: the stripe is no longer
    // the fill before it, and the label still keeps its 3 pixels at 144 DPI.
    auto frame = composeFrame(finished(), 640, 460, [](FontRole, std::wstring_view) { return 191; });
    std::reverse(frame.begin(), frame.end());
    scaleFrame(frame, 144);
    EXPECT_NE(textAt(frame, 624, 611), nullptr);
}

} // namespace
