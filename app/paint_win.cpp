#include "paint_win.h"

#include "frame.h"
#include "state.h"
#include "window_win.h"

namespace {

HFONT fontFor(FontRole role, int dpi)
{
    const Fonts& fonts = fontsFor(dpi);
    switch (role) {
    case FontRole::Title: return fonts.fontTitle;
    case FontRole::Heading: return fonts.fontHeading;
    case FontRole::Mono: return fonts.fontMono;
    case FontRole::Subtitle: return fonts.fontSubtitle;
    case FontRole::Button: return fonts.fontButton;
    }
    return fonts.fontMono;
}

// Every fill has a brush of its own, created and deleted around it.
void fillRect(HDC dc, const PixelRect& rect, Color color)
{
    RECT r = {rect.left, rect.top, rect.right, rect.bottom};
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

void drawText(HDC dc, const DrawOp& op, int dpi)
{
    SelectObject(dc, fontFor(op.font, dpi));
    SetTextColor(dc, op.color);
    SetBkMode(dc, TRANSPARENT);
    SetTextCharacterExtra(dc, op.characterExtra);
    TextOutW(dc, op.x, op.y, op.text.c_str(), static_cast<int>(op.text.size()));
    SetTextCharacterExtra(dc, 0);
}

} // namespace

void replayFrame(HDC dc, const std::vector<DrawOp>& frame, int dpi)
{
    for (const DrawOp& op : frame) {
        if (op.kind == DrawKind::Fill)
            fillRect(dc, op.rect, op.color);
        else
            drawText(dc, op, dpi);
    }
}

void renderFrame(HDC paintDc, int width, int height, int dpi)
{
    HDC memoryDc = CreateCompatibleDC(paintDc);
    // Compatible with the paint device context: a memory one starts with a 1 x 1 monochrome bitmap.
    HBITMAP frameBitmap = CreateCompatibleBitmap(paintDc, width, height);
    HGDIOBJ replaced = SelectObject(memoryDc, frameBitmap);

    // The label is measured in the frame's own context, with the button font and no extra, and
    // its width handed to the composer in 96-DPI units.
    MeasureText measure = [memoryDc, dpi](FontRole role, std::wstring_view text) {
        SelectObject(memoryDc, fontFor(role, dpi));
        SetTextCharacterExtra(memoryDc, 0);
        SIZE size = {};
        GetTextExtentPoint32W(memoryDc, text.data(), static_cast<int>(text.size()), &size);
        return unscaled(size.cx, dpi);
    };
    std::vector<DrawOp> frame = composeFrame(installerState, unscaled(width, dpi), unscaled(height, dpi), measure);
    scaleFrame(frame, dpi);
    replayFrame(memoryDc, frame, dpi);

    BitBlt(paintDc, 0, 0, width, height, memoryDc, 0, 0, SRCCOPY);
    SelectObject(memoryDc, replaced);
    DeleteObject(frameBitmap);
    DeleteDC(memoryDc);
}

LRESULT onPaint(HWND window)
{
    PAINTSTRUCT paint;
    HDC paintDc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    renderFrame(paintDc, client.right, client.bottom, windowDpi);
    EndPaint(window, &paint);
    return 0;
}
