#pragma once
// The window's picture: a frame composed from the installer state, painted off-screen and copied
// to the window with one blit.

#include "frame.h"
#include "scale.h"

#include <windows.h>

#include <vector>

// Carries out the fills and texts in order on the device context, with the fonts for the DPI;
// the frame is in device pixels already.
void replayFrame(HDC dc, const std::vector<DrawOp>& frame, int dpi = kBaseDpi);

// Composes the current state's frame in a memory bitmap compatible with paintDc and copies it
// to (0, 0) of paintDc; nothing of it is kept afterwards. width and height are device pixels;
// the frame is composed in 96-DPI units and scaled for the DPI.
void renderFrame(HDC paintDc, int width, int height, int dpi = kBaseDpi);
