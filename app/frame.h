#pragma once
// One frame of the installer window as data: the ordered fills and texts that the painter
// replays into its off-screen bitmap. Composing needs nothing but the state, the client size and
// a way to measure the button label, so the whole picture can be checked without a display.

#include "layout.h"
#include "palette.h"
#include "state.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class FontRole { Title, Heading, Mono, Subtitle, Button };

enum class DrawKind { Fill, Text };

struct DrawOp {
    DrawKind kind = DrawKind::Fill;
    Color color = 0;
    PixelRect rect = {};          // fills
    std::int32_t x = 0;           // texts: top-left origin of the first character cell
    std::int32_t y = 0;
    FontRole font = FontRole::Mono;
    std::int32_t characterExtra = 0;
    std::wstring text;
    // Texts: a vertical edge that the text, once scaled for a DPI other than 96, starts at least
    // kButtonLabelClearance right of (scaleFrame). The button label has its stripe's right edge.
    std::optional<std::int32_t> clearOfEdge;
};

// Width in pixels of a text drawn in the font with no character extra.
using MeasureText = std::function<std::int32_t(FontRole font, std::wstring_view text)>;

constexpr Color kColorTrack = rgb(22, 22, 22);
constexpr Color kColorHighlight = rgb(255, 106, 106);
constexpr Color kColorButtonBusy = rgb(26, 26, 26);
constexpr Color kColorStripeDone = rgb(10, 42, 10);
constexpr Color kColorStripe = rgb(42, 6, 6);
constexpr Color kColorLabelDone = rgb(6, 32, 6);
constexpr Color kColorLabel = rgb(10, 0, 0);
constexpr Color kColorFocusFrame = palette.colorText;

constexpr std::size_t kPercentTextCapacity = 8; // wide characters with the terminator

// The state heading and the button label: what the picture shows and a screen reader reads.
const wchar_t* headingText(const InstallerState& state);
const wchar_t* buttonLabel(const InstallerState& state);

// Right end of the travelling header segment.
std::int64_t segmentEnd(std::int32_t animTick, std::int32_t width);
// Width of the progress fill; negative for a negative progress.
std::int64_t fillWidth(std::int32_t progress, std::int32_t width);
// Offset of the progress highlight's left edge from the track's left end.
std::int64_t highlightOffset(std::int32_t animTick, std::int64_t fill);
// "%d%%" kept to at most 7 characters.
std::wstring percentText(std::int32_t progress);

PixelRect normalisedRect(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom);

// Appends the three fills of one corner bracket: (x, y) is its corner pixel, dx and dy (+1 or -1)
// the directions its arms run in.
void drawCornerBracket(std::vector<DrawOp>& frame, std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy);

std::vector<DrawOp> composeFrame(const InstallerState& state, std::int32_t width, std::int32_t height,
                                 const MeasureText& measure);
