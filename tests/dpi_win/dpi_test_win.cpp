// The window at 120, 144 and 192 DPI: client size, the fixed shapes at their scaled places with
// nothing gapping or overlapping, texts in scaled fonts, and a DPI change while it runs. Each run
// of dpi-probe.exe is a process started after the prefix's DPI was set, as Wine reads it then.
#include "app/frame.h"
#include "app/palette.h"
#include "installer_window_win.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A 96-DPI design value at the DPI: to the nearest pixel, halves up.
int at(int value, int dpi)
{
    return (value * dpi + 48) / 96;
}

struct Shot {
    int dpi = 0;
    int width = 0;
    int height = 0;
    RECT outer = {};
    std::vector<std::uint32_t> pixels;

    Color pixel(int x, int y) const
    {
        return pixelColor(pixels[static_cast<std::size_t>(y) * width + x]);
    }

    // The smallest rectangle around the pixels of one colour within an area; empty if none.
    RECT extent(Color color, RECT area) const
    {
        RECT box = {area.right, area.bottom, area.left, area.top};
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                if (pixel(x, y) == color) {
                    box.left = std::min<LONG>(box.left, x);
                    box.top = std::min<LONG>(box.top, y);
                    box.right = std::max<LONG>(box.right, x + 1);
                    box.bottom = std::max<LONG>(box.bottom, y + 1);
                }
        return box;
    }
};

#define EXPECT_AT(shot, x, y, color) EXPECT_EQ(hex((shot).pixel(x, y)), hex(color)) << "at " << (x) << "," << (y)

// Sets the prefix's DPI for the processes started while it lives, and puts the old value back.
class PrefixDpi {
public:
    explicit PrefixDpi(DWORD dpi)
    {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key, nullptr);
        DWORD size = sizeof old;
        hadOld = RegQueryValueExW(key, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old), &size) ==
                 ERROR_SUCCESS;
        RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof dpi);
    }
    ~PrefixDpi()
    {
        if (hadOld)
            RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old), sizeof old);
        else
            RegDeleteValueW(key, L"LogPixels");
        RegCloseKey(key);
    }

private:
    HKEY key = nullptr;
    DWORD old = 0;
    bool hadOld = false;
};

bool load(const std::wstring& path, Shot& shot)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    DeleteFileW(path.c_str());
    std::size_t end = bytes.find('\n');
    if (end == std::string::npos ||
        std::sscanf(bytes.c_str(), "%d %d %d %ld %ld %ld %ld", &shot.dpi, &shot.width, &shot.height, &shot.outer.left,
                    &shot.outer.top, &shot.outer.right, &shot.outer.bottom) != 7)
        return false;
    std::size_t count = static_cast<std::size_t>(shot.width) * shot.height;
    if (bytes.size() - end - 1 != count * 4)
        return false;
    shot.pixels.resize(count);
    std::copy_n(bytes.data() + end + 1, count * 4, reinterpret_cast<char*>(shot.pixels.data()));
    return true;
}

// The window at the prefix DPI; with newDpi, also after a WM_DPICHANGED to it.
bool probe(int dpi, Shot& shot, int newDpi = 0, Shot* after = nullptr)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring first = std::wstring(temp) + L"orvan-dpi-1.bin";
    std::wstring second = std::wstring(temp) + L"orvan-dpi-2.bin";
    std::wstring commandLine = L"\"" + besideThisProgram(L"dpi-probe.exe") + L"\" \"" + first + L"\"";
    if (newDpi != 0)
        commandLine += L" " + std::to_wstring(newDpi) + L" \"" + second + L"\"";
    DWORD code = 1;
    {
        PrefixDpi setting(static_cast<DWORD>(dpi));
        HANDLE process = startProgram(commandLine);
        if (process == nullptr)
            return false;
        WaitForSingleObject(process, 60000);
        GetExitCodeProcess(process, &code);
        CloseHandle(process);
    }
    return code == 0 && load(first, shot) && (newDpi == 0 || load(second, *after));
}

// The shapes of the Ready picture that are placed from the top left, at the shot's DPI.
void expectFixedShapesAtTheirScaledPlaces(const Shot& s, int d)
{
    // Top-left bracket: one arm along row 6, the square at 9..12.
    for (int x = at(6, d); x < at(21, d); ++x)
        EXPECT_AT(s, x, at(6, d), palette.colorAccentDark);
    EXPECT_AT(s, at(21, d), at(6, d), palette.colorHeader);
    EXPECT_AT(s, at(9, d), at(9, d), palette.colorAccent);
    EXPECT_AT(s, at(13, d) - 1, at(13, d) - 1, palette.colorAccent);
    EXPECT_AT(s, at(13, d), at(13, d), palette.colorHeader);
    // Logo bar with its head, header separator.
    EXPECT_AT(s, at(28, d), at(24, d), palette.colorAccent);
    EXPECT_AT(s, at(32, d) - 1, at(40, d) - 1, palette.colorAccent);
    EXPECT_AT(s, at(31, d), at(40, d), palette.colorAccentDark);
    EXPECT_AT(s, at(31, d), at(68, d), palette.colorHeader);
    EXPECT_AT(s, at(100, d), at(91, d), palette.colorBorder);
    EXPECT_AT(s, at(100, d), at(91, d) - 1, palette.colorHeader);
    // Progress track with its edges (progress 0: no fill).
    EXPECT_AT(s, at(300, d), at(160, d), palette.colorBorder);
    EXPECT_AT(s, at(300, d), at(161, d), kColorTrack);
    EXPECT_AT(s, at(300, d), at(176, d) - 1, kColorTrack);
    EXPECT_AT(s, at(300, d), at(176, d), palette.colorBorder);
    EXPECT_AT(s, at(30, d), at(170, d), kColorTrack);
    // Log panel: stripe, fill, edges; the panel's fill meets the stripe and the edges exactly.
    for (int x = at(30, d); x < at(33, d); ++x)
        EXPECT_AT(s, x, at(300, d), palette.colorAccentDeep);
    for (int x = at(33, d); x < at(609, d); ++x)
        ASSERT_EQ(hex(s.pixel(x, at(300, d))), hex(palette.colorLogPanel)) << "column " << x;
    EXPECT_AT(s, at(609, d), at(300, d), palette.colorBorder);
    EXPECT_AT(s, at(300, d), at(218, d), palette.colorBorder);
    EXPECT_AT(s, at(300, d), at(219, d), palette.colorLogPanel);
    // Button: the stripe meets the face, the face ends at the scaled right and bottom edges.
    for (int x = at(410, d); x < at(610, d); ++x) {
        Color expected = x < at(414, d) ? kColorStripe : palette.colorAccentDark;
        ASSERT_EQ(hex(s.pixel(x, at(399, d))), hex(expected)) << "column " << x;
    }
    EXPECT_AT(s, at(610, d) - 1, at(434, d) - 1, palette.colorAccentDark);
    EXPECT_AT(s, at(410, d), at(434, d) - 1, kColorStripe);
    EXPECT_NE(hex(s.pixel(at(610, d), at(416, d))), hex(palette.colorAccentDark));
    EXPECT_NE(hex(s.pixel(at(500, d), at(434, d))), hex(palette.colorAccentDark));
}

// Texts measured against the 96-DPI window: height and width grow with the DPI. Glyph advances
// are whole pixels in each font size, so a line of a dozen characters may run some 10 % wider or
// narrower than the exact factor; a centred text keeps its centre (within 4 pixels: the label's
// character extra, rounded to whole pixels, widens it to the right), the others their left edge.
void expectScaledText(const Shot& s, const Shot& base, Color color, RECT area96, const char* what,
                      bool centred = false)
{
    int d = s.dpi;
    RECT scaledArea = {at(area96.left, d), at(area96.top, d), at(area96.right, d), at(area96.bottom, d)};
    RECT got = s.extent(color, scaledArea);
    RECT ref = base.extent(color, area96);
    ASSERT_LT(ref.left, ref.right) << what << ": no text at 96 DPI";
    ASSERT_LT(got.left, got.right) << what << ": no text at " << d;
    double factor = d / 96.0;
    int height = got.bottom - got.top;
    int width = got.right - got.left;
    double expectedHeight = (ref.bottom - ref.top) * factor;
    double expectedWidth = (ref.right - ref.left) * factor;
    EXPECT_NEAR(height, expectedHeight, 2.5) << what;
    EXPECT_NEAR(width, expectedWidth, std::max(3.0, 0.12 * expectedWidth)) << what;
    if (centred)
        EXPECT_NEAR(got.left + got.right, (ref.left + ref.right) * factor, 8.0) << what;
    else
        EXPECT_NEAR(got.left, ref.left * factor, 3.0) << what;
}

void expectWindowAt(int d)
{
    Shot base, shot;
    ASSERT_TRUE(probe(96, base));
    ASSERT_EQ(base.dpi, 96);
    ASSERT_TRUE(probe(d, shot));
    EXPECT_EQ(shot.dpi, d);
    EXPECT_EQ(shot.width, at(640, d));
    EXPECT_EQ(shot.height, at(460, d));
    // Centred by the client size on the 1920 x 1080 screen.
    EXPECT_EQ(shot.outer.left, (1920 - at(640, d)) / 2);
    EXPECT_EQ(shot.outer.top, (1080 - at(460, d)) / 2);
    expectFixedShapesAtTheirScaledPlaces(shot, d);
    // Bottom right corner: the bracket's square, one pixel further from the corner than mirrored.
    EXPECT_AT(shot, at(626, d), at(446, d), palette.colorAccent);
    EXPECT_AT(shot, at(630, d) - 1, at(450, d) - 1, palette.colorAccent);
    expectScaledText(shot, base, palette.colorText, {40, 0, 400, 91}, "title");
    expectScaledText(shot, base, palette.colorTextDim, {30, 186, 300, 212}, "status line");
    expectScaledText(shot, base, kColorLabel, {414, 398, 610, 434}, "button label", true);
}

TEST(Dpi, WindowAt120)
{
    expectWindowAt(120);
}

TEST(Dpi, WindowAt144)
{
    expectWindowAt(144);
}

TEST(Dpi, WindowAt192)
{
    expectWindowAt(192);
}

TEST(Dpi, At96NothingChanges)
{
    Shot shot;
    ASSERT_TRUE(probe(96, shot));
    EXPECT_EQ(shot.width, 640);
    EXPECT_EQ(shot.height, 460);
    EXPECT_EQ(shot.outer.left, 640);
    EXPECT_EQ(shot.outer.top, 310);
    expectFixedShapesAtTheirScaledPlaces(shot, 96);
}

TEST(Dpi, ChangeTakesTheSuggestedRectangleAndRepaintsAtTheNewScale)
{
    Shot base, before, after;
    ASSERT_TRUE(probe(96, base));
    ASSERT_TRUE(probe(144, before, 192, &after));
    EXPECT_EQ(before.dpi, 144);
    EXPECT_EQ(after.dpi, 192);
    EXPECT_EQ(after.outer.left, before.outer.left - 40) << "the suggested rectangle";
    EXPECT_EQ(after.outer.top, before.outer.top - 30);
    EXPECT_EQ(after.width, 1280);
    EXPECT_EQ(after.height, 920);
    expectFixedShapesAtTheirScaledPlaces(after, 192);
    expectScaledText(after, base, palette.colorText, {40, 0, 400, 91}, "title");
    expectScaledText(after, base, kColorLabel, {414, 398, 610, 434}, "button label", true);
}

} // namespace
