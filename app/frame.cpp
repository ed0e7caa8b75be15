#include "frame.h"

#include <algorithm>
#include <cmath>
#include <cwchar>

namespace {

// Progress is not clamped, so a fill or highlight can lie billions of pixels to the right.
// Coordinates beyond this limit are pulled in to it: the pixels inside any real window stay the
// same, and neither our arithmetic nor the drawing layer's sees values near the 32-bit limit.
constexpr std::int64_t kCoordinateLimit = std::int64_t{1} << 20;

std::int32_t pulledIn(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp(value, -kCoordinateLimit, kCoordinateLimit));
}

void fill(std::vector<DrawOp>& frame, Color color, std::int64_t left, std::int64_t top, std::int64_t right,
          std::int64_t bottom)
{
    DrawOp op;
    op.kind = DrawKind::Fill;
    op.color = color;
    op.rect = normalisedRect(left, top, right, bottom);
    frame.push_back(std::move(op));
}

DrawOp& text(std::vector<DrawOp>& frame, Color color, std::int32_t x, std::int32_t y, FontRole font,
             std::int32_t characterExtra, std::wstring_view content)
{
    DrawOp op;
    op.kind = DrawKind::Text;
    op.color = color;
    op.x = x;
    op.y = y;
    op.font = font;
    op.characterExtra = characterExtra;
    op.text = content;
    frame.push_back(std::move(op));
    return frame.back();
}

struct ButtonLook {
    Color face;
    Color stripe;
    Color label;
    const wchar_t* text;
};

ButtonLook buttonLook(const InstallerState& state)
{
    if (state.done)
        return {palette.colorSuccess, kColorStripeDone, kColorLabelDone, buttonLabel(state)};
    ButtonLook look{state.busy ? kColorButtonBusy : palette.colorAccentDark, kColorStripe,
                    state.busy ? palette.colorTextFaint : kColorLabel, buttonLabel(state)};
    return look;
}

void heading(std::vector<DrawOp>& frame, const InstallerState& state, std::int32_t width)
{
    Color color = palette.colorText;
    if (state.done)
        color = palette.colorSuccess;
    else if (state.failed)
        color = palette.colorAccent;
    PixelRect place = headingRect(width);
    text(frame, color, place.left, place.top, FontRole::Heading, 1, headingText(state));
}

// The top line is drawn over the track's first row; the bottom line lies below the track.
void progressBar(std::vector<DrawOp>& frame, const InstallerState& state, std::int32_t width)
{
    PixelRect bar = progressBarRect(width);
    std::int64_t left = bar.left;
    std::int64_t trackBottom = std::int64_t{bar.bottom} - 1;
    fill(frame, kColorTrack, left, bar.top, bar.right, trackBottom);
    fill(frame, palette.colorBorder, left, bar.top, bar.right, std::int64_t{bar.top} + 1);
    fill(frame, palette.colorBorder, left, trackBottom, bar.right, bar.bottom);

    std::int64_t f = fillWidth(state.progress, width);
    fill(frame, state.failed ? palette.colorAccentDark : palette.colorAccent, left, bar.top, left + f, trackBottom);

    if (state.busy && !state.done) {
        constexpr std::int64_t highlightWidth = 20;
        std::int64_t a = highlightOffset(state.animTick, f);
        if (a + highlightWidth < f)
            fill(frame, kColorHighlight, left + a, bar.top, left + a + highlightWidth, trackBottom);
    }
    text(frame, palette.colorTextDim, percentLeft(width), kPercentTop, FontRole::Mono, 1, percentText(state.progress));
}

// The panel's fill and side lines end above its bottom line.
void logPanel(std::vector<DrawOp>& frame, const InstallerState& state, std::int32_t width)
{
    PixelRect panel = logPanelRect(width);
    std::int64_t left = panel.left;
    std::int64_t right = panel.right;
    std::int64_t innerBottom = std::int64_t{panel.bottom} - 1;
    fill(frame, palette.colorLogPanel, left, panel.top, right, innerBottom);
    fill(frame, palette.colorBorder, left, panel.top, right, std::int64_t{panel.top} + 1);
    fill(frame, palette.colorBorder, left, innerBottom, right, panel.bottom);
    fill(frame, palette.colorBorder, left, panel.top, left + 1, innerBottom);
    fill(frame, palette.colorBorder, right - 1, panel.top, right, innerBottom);
    fill(frame, palette.colorAccentDeep, left, panel.top, left + 3, innerBottom);

    std::size_t n = state.logLines.size();
    std::size_t first = n > kShownLogLines ? n - kShownLogLines : 0;
    for (std::size_t i = first; i < n; ++i) {
        PixelRect line = logLineRect(width, static_cast<std::int32_t>(i - first));
        text(frame, i + 1 == n ? palette.colorText : palette.colorTextFaint, line.left, line.top, FontRole::Mono, 0,
             state.logLines[i]);
    }
}

void button(std::vector<DrawOp>& frame, const InstallerState& state, const MeasureText& measure)
{
    const ButtonRect& r = buttonRectInForce(state);
    ButtonLook look = buttonLook(state);
    PixelRect stripe = normalisedRect(r.left, r.top, std::int64_t{r.left} + kButtonStripeWidth, r.bottom);
    fill(frame, look.face, r.left, r.top, r.right, r.bottom);
    fill(frame, look.stripe, stripe.left, stripe.top, stripe.right, stripe.bottom);

    // Measured without the character extra, as the label is placed before the extra is set.
    std::int32_t cx = measure(FontRole::Button, look.text);
    std::int64_t x = (std::int64_t{r.left} + r.right) / 2 - cx / 2 - 6;
    std::int64_t y = (std::int64_t{r.top} + r.bottom) / 2 - 9;
    // The extra of 2 pixels per character widens the label beyond its measured width; in Courier
    // New "ORVAN LAUNCHER STARTEN" then runs 26 pixels past the button's right edge, where its
    // dark letters vanish. A label that would leave the button is drawn without the extra: the
    // origin above centres the unwidened label.
    std::int32_t extra = 2;
    if (x + cx + std::int64_t{extra} * static_cast<std::int64_t>(std::wcslen(look.text)) > r.right)
        extra = 0;
    // A font scaled up may run wider than the factor: scaled, the label keeps its room to the
    // stripe (scaleFrame).
    DrawOp& label = text(frame, look.label, pulledIn(x), pulledIn(y), FontRole::Button, extra, look.text);
    label.clearOfEdge = stripe.right;
}

// A one-pixel ring two pixels outside the button, so that it changes nothing on the button itself.
void focusFrame(std::vector<DrawOp>& frame, const InstallerState& state)
{
    const ButtonRect& r = buttonRectInForce(state);
    std::int64_t left = std::int64_t{r.left} - 3;
    std::int64_t top = std::int64_t{r.top} - 3;
    std::int64_t right = std::int64_t{r.right} + 3;
    std::int64_t bottom = std::int64_t{r.bottom} + 3;
    fill(frame, kColorFocusFrame, left, top, right, top + 1);
    fill(frame, kColorFocusFrame, left, bottom - 1, right, bottom);
    fill(frame, kColorFocusFrame, left, top + 1, left + 1, bottom - 1);
    fill(frame, kColorFocusFrame, right - 1, top + 1, right, bottom - 1);
}

} // namespace

const wchar_t* headingText(const InstallerState& state)
{
    if (state.done)
        return L"INSTALLATION ABGESCHLOSSEN";
    if (state.failed)
        return L"FEHLER";
    if (state.busy)
        return L"INSTALLIERE ...";
    return L"BEREIT ZUR INSTALLATION";
}

const wchar_t* buttonLabel(const InstallerState& state)
{
    if (state.done)
        return L"ORVAN LAUNCHER STARTEN";
    return state.failed ? L"NOCHMAL VERSUCHEN" : L"INSTALLIEREN";
}

std::int64_t segmentEnd(std::int32_t animTick, std::int32_t width)
{
    // In 64 bits: 6 x animTick leaves the 32-bit range after some 250 days of ticks.
    return (std::int64_t{6} * animTick) % (std::int64_t{width} + 120);
}

std::int64_t fillWidth(std::int32_t progress, std::int32_t width)
{
    // |progress / 100 x (W - 60)| stays below 2^57 for any 32-bit inputs, so the truncation
    // to 64 bits is always defined.
    return static_cast<std::int64_t>(std::trunc(progress / 100.0 * (std::int64_t{width} - 60)));
}

std::int64_t highlightOffset(std::int32_t animTick, std::int64_t fill)
{
    std::int64_t d = fill + 1 > 0 ? fill + 1 : 1;
    return (std::int64_t{7} * animTick) % d;
}

std::wstring percentText(std::int32_t progress)
{
    std::wstring digits = std::to_wstring(progress) + L"%";
    if (digits.size() > kPercentTextCapacity - 1)
        digits.resize(kPercentTextCapacity - 1);
    return digits;
}

PixelRect normalisedRect(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom)
{
    // A reversed rectangle means the columns right + 1 ... left (rows likewise).
    if (right < left) {
        std::int64_t from = right + 1;
        right = left + 1;
        left = from;
    }
    if (bottom < top) {
        std::int64_t from = bottom + 1;
        bottom = top + 1;
        top = from;
    }
    return {pulledIn(left), pulledIn(top), pulledIn(right), pulledIn(bottom)};
}

void drawCornerBracket(std::vector<DrawOp>& frame, std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy)
{
    std::int64_t cx = std::int64_t{x} + 5 * dx;
    std::int64_t cy = std::int64_t{y} + 5 * dy;
    fill(frame, palette.colorAccentDark, x, y, std::int64_t{x} + 15 * dx, std::int64_t{y} + 1);
    fill(frame, palette.colorAccentDark, x, y, std::int64_t{x} + 1, std::int64_t{y} + 15 * dy);
    fill(frame, palette.colorAccent, cx - 2, cy - 2, cx + 2, cy + 2);
}

std::vector<DrawOp> composeFrame(const InstallerState& state, std::int32_t width, std::int32_t height,
                                 const MeasureText& measure)
{
    std::vector<DrawOp> frame;
    frame.reserve(170);

    fill(frame, palette.colorBackground, 0, 0, width, height);
    for (std::int32_t y = 92; y < height; y += 3)
        fill(frame, palette.colorScanline, 0, y, width, y + 1);
    fill(frame, palette.colorHeader, 0, 0, width, 92);
    fill(frame, palette.colorAccentDark, 0, 0, width, 1);
    fill(frame, palette.colorAccentDark, 0, 1, width, 2);
    std::int64_t o = segmentEnd(state.animTick, width);
    fill(frame, palette.colorAccent, o - 60, 0, o, 2);
    fill(frame, palette.colorAccentDark, 28, 24, 32, 68);
    fill(frame, palette.colorAccent, 28, 24, 32, 40);
    text(frame, palette.colorText, 46, 22, FontRole::Title, 1, L"ORVAN LAUNCHER");
    text(frame, palette.colorAccentDark, 48, 58, FontRole::Subtitle, 3, L"NORDALIS // INSTALLATION");
    fill(frame, palette.colorBorder, 0, 91, width, 92);

    heading(frame, state, width);
    progressBar(frame, state, width);
    PixelRect status = statusRect(width);
    text(frame, state.busy ? palette.colorAccent : palette.colorTextDim, status.left, status.top, FontRole::Mono, 1,
         state.statusText);
    logPanel(frame, state, width);
    button(frame, state, measure);
    if (state.focusFrame)
        focusFrame(frame, state);

    std::int32_t right = width - 7;
    std::int32_t bottom = height - 7;
    drawCornerBracket(frame, 6, 6, +1, +1);
    drawCornerBracket(frame, right, 6, -1, +1);
    drawCornerBracket(frame, 6, bottom, +1, -1);
    drawCornerBracket(frame, right, bottom, -1, -1);
    return frame;
}
