#pragma once
// Where the elements of the installer window stand, in the 96-DPI units of the design. The
// picture draws them here (frame.cpp), a screen reader is told they are here (accessible.cpp)
// and the pointer is tested against these places (the button through the state, the rest
// through the reader's view), so an element moves for all three with one edit. Right-hand edges
// follow the client width.

#include <cstddef>
#include <cstdint>

// Right and bottom exclusive. Every rectangle in a frame is normalised (left <= right,
// top <= bottom) to the pixels it is meant to cover, because Windows and Wine fill a reversed
// rectangle one pixel apart.
struct PixelRect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

// The button's place as the state keeps it, one for each of its faces (state.h).
using ButtonRect = PixelRect;

constexpr ButtonRect kButtonRect = {410, 398, 610, 434};
// The darker stripe along the button's left edge, and the room its label keeps to the stripe.
constexpr std::int32_t kButtonStripeWidth = 4;
constexpr std::int32_t kButtonLabelClearance = 2;

// The heading's line, left of the percentage; the heading's text starts at its top-left corner.
constexpr PixelRect headingRect(std::int32_t width)
{
    return {30, 120, width - 80, 148};
}

// Where the percentage's text starts, right of the heading's line and above the track's end.
constexpr std::int32_t percentLeft(std::int32_t width)
{
    return width - 74;
}
constexpr std::int32_t kPercentTop = 134;

// The progress bar: its track and the one-pixel line along the track's top and below its bottom.
constexpr PixelRect progressBarRect(std::int32_t width)
{
    return {30, 160, width - 30, 177};
}

// The status line; its text starts at the top-left corner.
constexpr PixelRect statusRect(std::int32_t width)
{
    return {30, 190, width - 30, 208};
}

// The log panel with its frame, the bottom line included.
constexpr PixelRect logPanelRect(std::int32_t width)
{
    return {30, 218, width - 30, 375};
}

// The panel shows the newest lines, as many as fit.
constexpr std::size_t kShownLogLines = 7;

// Line `row` of those the log panel shows, 0 the top one; its text starts at the top-left corner.
constexpr PixelRect logLineRect(std::int32_t width, std::int32_t row)
{
    return {44, 228 + 18 * row, width - 31, 246 + 18 * row};
}
