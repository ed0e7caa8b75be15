#pragma once
// The installer's colours, fixed for the whole run. Each value is laid out as a Windows COLORREF
// (0x00BBGGRR) so the painter hands it to GDI unchanged.

#include <cstdint>

using Color = std::uint32_t;

constexpr Color rgb(int red, int green, int blue)
{
    return static_cast<Color>(red) | (static_cast<Color>(green) << 8) | (static_cast<Color>(blue) << 16);
}

struct Palette {
    Color colorBackground;
    Color colorHeader;
    Color colorLogPanel;
    Color colorScanline;
    Color colorText;
    Color colorTextDim;
    Color colorTextFaint;
    Color colorAccentDark;
    Color colorAccent;
    Color colorAccentDeep;
    Color colorBorder;
    Color colorSuccess;
};

inline constexpr Palette palette = {
    rgb(5, 5, 5),       // colorBackground: client background
    rgb(10, 10, 10),    // colorHeader: header band
    rgb(11, 11, 11),    // colorLogPanel: log panel fill
    rgb(8, 8, 8),       // colorScanline: scan lines below the header
    rgb(215, 215, 215), // colorText: main text
    rgb(119, 119, 119), // colorTextDim: secondary text
    rgb(85, 85, 85),    // colorTextFaint: older log lines, disabled button label
    rgb(165, 29, 29),   // colorAccentDark: accent lines, idle button
    rgb(229, 43, 43),   // colorAccent: bright accent, progress fill, error heading
    rgb(80, 16, 16),    // colorAccentDeep: log panel stripe
    rgb(37, 37, 37),    // colorBorder: one-pixel frames and separators
    rgb(95, 191, 95),   // colorSuccess: success heading, start button
};
