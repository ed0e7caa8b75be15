#pragma once
// The picture at any DPI. A frame is composed in the 96-DPI units of the design; the painter
// scales it for the window's DPI just before it draws. Both edges of every rectangle go through
// the same rounding, so shapes that touch at 96 DPI still touch, with no gap and no overlap, and
// at 96 DPI every value stays what it was.

#include "frame.h"
#include "state.h"

#include <cstdint>
#include <vector>

constexpr int kBaseDpi = 96;

// value x dpi / 96, rounded to the nearest integer, halves upwards (towards +infinity).
std::int32_t scaled(std::int64_t value, int dpi);
// The 96-DPI value that scales to the nearest of a device value.
std::int32_t unscaled(std::int64_t value, int dpi);

PixelRect scaledRect(const PixelRect& rect, int dpi);
// A font height as CreateFontW takes it (negative: character height), same sign after scaling.
std::int32_t scaledFontHeight(std::int32_t height, int dpi);

// Every fill's edges, every text's origin and character extra, in device pixels.
void scaleFrame(std::vector<DrawOp>& frame, int dpi);
