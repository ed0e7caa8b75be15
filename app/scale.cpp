#include "scale.h"

#include <algorithm>

namespace {

// Floor division, so that rounding treats negative coordinates like positive ones.
std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Frame coordinates are pulled in to 2^20 (frame.cpp); scaled at up to 32 x, they still fit.
std::int32_t fitted(std::int64_t value)
{
    constexpr std::int64_t limit = std::int64_t{1} << 30;
    return static_cast<std::int32_t>(std::clamp(value, -limit, limit));
}

} // namespace

std::int32_t scaled(std::int64_t value, int dpi)
{
    if (dpi == kBaseDpi)
        return fitted(value);
    return fitted(floorDiv(value * dpi + kBaseDpi / 2, kBaseDpi));
}

std::int32_t unscaled(std::int64_t value, int dpi)
{
    if (dpi == kBaseDpi || dpi <= 0)
        return fitted(value);
    return fitted(floorDiv(value * kBaseDpi + dpi / 2, dpi));
}

PixelRect scaledRect(const PixelRect& rect, int dpi)
{
    return {scaled(rect.left, dpi), scaled(rect.top, dpi), scaled(rect.right, dpi), scaled(rect.bottom, dpi)};
}

std::int32_t scaledFontHeight(std::int32_t height, int dpi)
{
    // Scaled as a size, so that -13 and 13 give the same number of pixels.
    std::int32_t size = scaled(height < 0 ? -std::int64_t{height} : std::int64_t{height}, dpi);
    return height < 0 ? -size : size;
}

void scaleFrame(std::vector<DrawOp>& frame, int dpi)
{
    if (dpi == kBaseDpi)
        return;
    for (DrawOp& op : frame) {
        if (op.kind == DrawKind::Fill) {
            op.rect = scaledRect(op.rect, dpi);
        } else {
            op.x = scaled(op.x, dpi);
            op.y = scaled(op.y, dpi);
            op.characterExtra = scaled(op.characterExtra, dpi);
            // Glyph advances are whole pixels, so a font scaled up may run wider than the factor
            // (Courier New bold: 8 pixels a character at 14, 13 at 21), and the start label,
            // which at 96 DPI begins 2 pixels right of the button's stripe, would reach into the
            // stripe. It keeps that distance instead.
            if (op.clearOfEdge)
                op.x = std::max(op.x, scaled(*op.clearOfEdge, dpi) + scaled(kButtonLabelClearance, dpi));
        }
    }
}
