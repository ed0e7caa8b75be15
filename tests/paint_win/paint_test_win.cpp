// Frames painted through the real GDI path under Wine, read back pixel by pixel.
#include "app/frame.h"
#include "app/paint_win.h"
#include "app/state.h"
#include "app/window_win.h"
#include "installer_window_win.h"

#include <gtest/gtest.h>

namespace {

#define EXPECT_PIXEL(picture, x, y, color) \
    EXPECT_EQ(hex((picture).at(x, y)), hex(color)) << "at " << (x) << "," << (y)

class Painting : public ::testing::Test {
protected:
    static void SetUpTestSuite() { createFonts(); }

    void SetUp() override
    {
        installerState = InstallerState{};
        setButtonRects(installerState);
    }

    void paint() { renderFrame(picture.dc, kClientWidth, kClientHeight); }

    Picture picture{kClientWidth, kClientHeight};
};

TEST_F(Painting, CornerBracketsCoverExactlyTheirPixels)
{
    installerState.animTick = 70; // the header segment far from the top corners
    paint();
    struct Corner {
        int x, y, dx, dy;
    } corners[] = {{6, 6, 1, 1}, {633, 6, -1, 1}, {6, 453, 1, -1}, {633, 453, -1, -1}};
    for (Corner c : corners) {
        // Scan a 20 x 20 box from the corner pixel inwards, with one pixel beyond on each side.
        for (int i = -1; i <= 16; ++i) {
            for (int j = -1; j <= 16; ++j) {
                int x = c.x + i * c.dx;
                int y = c.y + j * c.dy;
                bool arm = (j == 0 && i >= 0 && i <= 14) || (i == 0 && j >= 0 && j <= 14);
                // The square: columns x + 5dx - 2 ... x + 5dx + 1, whatever the direction.
                int sx = c.x + 5 * c.dx;
                int sy = c.y + 5 * c.dy;
                bool square = x >= sx - 2 && x <= sx + 1 && y >= sy - 2 && y <= sy + 1;
                Color got = picture.at(x, y);
                if (square)
                    EXPECT_EQ(hex(got), hex(palette.colorAccent)) << x << "," << y;
                else if (arm)
                    EXPECT_EQ(hex(got), hex(palette.colorAccentDark)) << x << "," << y;
                else
                    EXPECT_TRUE(got != palette.colorAccent && got != palette.colorAccentDark) << x << "," << y;
            }
        }
    }
}

TEST_F(Painting, HeaderLinesSegmentAndScanlines)
{
    installerState.animTick = 10; // o = 60
    paint();
    for (int y : {0, 1}) {
        EXPECT_PIXEL(picture, 0, y, palette.colorAccent);
        EXPECT_PIXEL(picture, 59, y, palette.colorAccent);
        EXPECT_PIXEL(picture, 60, y, palette.colorAccentDark);
        EXPECT_PIXEL(picture, 639, y, palette.colorAccentDark);
    }
    EXPECT_PIXEL(picture, 100, 2, palette.colorHeader);
    EXPECT_PIXEL(picture, 100, 90, palette.colorHeader);
    EXPECT_PIXEL(picture, 0, 91, palette.colorBorder);
    EXPECT_PIXEL(picture, 639, 91, palette.colorBorder);
    for (int y : {92, 95, 98, 101, 455, 458}) {
        EXPECT_PIXEL(picture, 2, y, palette.colorScanline);
        EXPECT_PIXEL(picture, 637, y, palette.colorScanline);
    }
    for (int y : {93, 94, 96, 97, 99, 456, 457, 459}) {
        EXPECT_PIXEL(picture, 2, y, palette.colorBackground);
        EXPECT_PIXEL(picture, 637, y, palette.colorBackground);
    }
    EXPECT_PIXEL(picture, 28, 24, palette.colorAccent);  // logo bar head
    EXPECT_PIXEL(picture, 31, 39, palette.colorAccent);
    EXPECT_PIXEL(picture, 31, 40, palette.colorAccentDark);
    EXPECT_PIXEL(picture, 31, 67, palette.colorAccentDark);
    EXPECT_PIXEL(picture, 31, 68, palette.colorHeader);

    installerState.animTick = 0; // o = 0: nothing of the segment
    paint();
    EXPECT_PIXEL(picture, 0, 0, palette.colorAccentDark);
}

TEST_F(Painting, ProgressTrackAndFill)
{
    struct Case {
        int progress;
        int firstFilled, lastFilled; // columns on rows 160-175; first > last: none
    } cases[] = {{100, 30, 609}, {0, 1, 0}, {-10, 0, 30}, {150, 30, 639}, {50, 30, 319}};
    for (Case c : cases) {
        installerState.progress = c.progress;
        paint();
        for (int x = 0; x < 640; ++x) {
            bool filled = x >= c.firstFilled && x <= c.lastFilled;
            bool track = x >= 30 && x <= 609;
            Color row160 = filled ? palette.colorAccent : track ? palette.colorBorder : palette.colorBackground;
            Color row170 = filled ? palette.colorAccent : track ? kColorTrack : palette.colorBackground;
            ASSERT_EQ(hex(picture.at(x, 160)), hex(row160)) << c.progress << "% column " << x;
            ASSERT_EQ(hex(picture.at(x, 175)), hex(row170)) << c.progress << "% column " << x;
            // Row 176, below the track, is also a scanline row.
            ASSERT_EQ(hex(picture.at(x, 176)), hex(track ? palette.colorBorder : palette.colorScanline))
                << c.progress << "% column " << x;
        }
    }
}

TEST_F(Painting, HighlightWhileInstalling)
{
    installerState.busy = true;
    installerState.progress = 50;
    installerState.animTick = 3; // a = 21: columns 51-70
    paint();
    EXPECT_PIXEL(picture, 50, 168, palette.colorAccent);
    EXPECT_PIXEL(picture, 51, 168, kColorHighlight);
    EXPECT_PIXEL(picture, 70, 160, kColorHighlight);
    EXPECT_PIXEL(picture, 71, 168, palette.colorAccent);
    installerState.busy = false;
    paint();
    EXPECT_PIXEL(picture, 51, 168, palette.colorAccent);
}

TEST_F(Painting, LogPanelEdgesAndStripe)
{
    paint();
    EXPECT_PIXEL(picture, 300, 218, palette.colorBorder);
    EXPECT_PIXEL(picture, 300, 374, palette.colorBorder);
    EXPECT_PIXEL(picture, 300, 375, palette.colorBackground);
    EXPECT_PIXEL(picture, 300, 300, palette.colorLogPanel);
    EXPECT_PIXEL(picture, 609, 300, palette.colorBorder);
    EXPECT_PIXEL(picture, 608, 300, palette.colorLogPanel);
    EXPECT_PIXEL(picture, 610, 300, palette.colorBackground);
    for (int x : {30, 31, 32})
        EXPECT_PIXEL(picture, x, 300, palette.colorAccentDeep);
    EXPECT_PIXEL(picture, 33, 300, palette.colorLogPanel);
    EXPECT_PIXEL(picture, 29, 300, palette.colorBackground);
}

TEST_F(Painting, ButtonAndTextsInEveryState)
{
    struct Case {
        bool busy, done, failed;
        Color face, stripe, label, heading, status;
    } cases[] = {
        {false, false, false, palette.colorAccentDark, kColorStripe, kColorLabel, palette.colorText, palette.colorTextDim},
        {true, false, false, kColorButtonBusy, kColorStripe, palette.colorTextFaint, palette.colorText, palette.colorAccent},
        {false, false, true, palette.colorAccentDark, kColorStripe, kColorLabel, palette.colorAccent, palette.colorTextDim},
        {false, true, false, palette.colorSuccess, kColorStripeDone, kColorLabelDone, palette.colorSuccess,
         palette.colorTextDim},
    };
    for (const Case& c : cases) {
        installerState.busy = c.busy;
        installerState.done = c.done;
        installerState.failed = c.failed;
        installerState.logLines.clear();
        pushLogLine(installerState, L"alt");
        pushLogLine(installerState, L"NEU");
        paint();
        SCOPED_TRACE(hex(c.face));
        EXPECT_PIXEL(picture, 410, 398, c.stripe);
        EXPECT_PIXEL(picture, 413, 433, c.stripe);
        EXPECT_PIXEL(picture, 414, 398, c.face);
        EXPECT_PIXEL(picture, 609, 433, c.face);
        EXPECT_PIXEL(picture, 610, 433, palette.colorBackground);
        EXPECT_PIXEL(picture, 500, 434, palette.colorScanline); // the scanline row below the button
        // Texts: their colour shows inside their area; glyph shapes are the font's business.
        EXPECT_TRUE(picture.contains(c.label, 414, 400, 640, 432)) << "label";
        EXPECT_TRUE(picture.contains(c.heading, 30, 120, 400, 150)) << "heading";
        EXPECT_TRUE(picture.contains(c.status, 30, 190, 300, 210)) << "status";
        EXPECT_TRUE(picture.contains(palette.colorTextFaint, 44, 228, 200, 244)) << "older log line";
        EXPECT_TRUE(picture.contains(palette.colorText, 44, 246, 200, 262)) << "newest log line";
        EXPECT_FALSE(picture.contains(palette.colorText, 44, 264, 600, 372)) << "nothing below the newest";
        EXPECT_TRUE(picture.contains(palette.colorText, 46, 22, 400, 58)) << "title";
        EXPECT_TRUE(picture.contains(palette.colorAccentDark, 48, 58, 400, 76)) << "subtitle";
        EXPECT_TRUE(picture.contains(palette.colorTextDim, 566, 134, 620, 152)) << "percentage";
    }
}

// The window itself, painted by WM_PAINT, shows the same frame as a paint into a bitmap.
TEST_F(Painting, WindowShowsTheComposedFrame)
{
    openInstallerWindow();
    ASSERT_NE(mainWindow, nullptr);
    KillTimer(mainWindow, kAnimationTimerId); // a still frame
    installerState.busy = true;
    installerState.progress = 42;
    installerState.animTick = 5;
    installerState.statusText = L"Lade Teil 2 / 5";
    pushLogLine(installerState, L"Verbinde");
    InvalidateRect(mainWindow, nullptr, FALSE);
    UpdateWindow(mainWindow);

    Picture window(kClientWidth, kClientHeight);
    copyWindowInto(window);
    paint();
    int differing = 0;
    for (int y = 0; y < kClientHeight; ++y)
        for (int x = 0; x < kClientWidth; ++x)
            differing += window.at(x, y) != picture.at(x, y);
    EXPECT_EQ(differing, 0);
    EXPECT_PIXEL(window, 410, 398, kColorStripe);
    EXPECT_PIXEL(window, 500, 420, kColorButtonBusy);
    DestroyWindow(mainWindow);
    mainWindow = nullptr;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) // the quit that the destruction posted
        ;
}

} // namespace
