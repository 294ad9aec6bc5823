#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace dbsetup::win32 {

// The DPI the window is laid out for: the DPI of its monitor for a
// per-monitor aware process (GetDpiForWindow, Windows 10 1607 and later),
// else the system's (the screen's LOGPIXELSY).
int window_dpi(HWND window);

// The outer size of a window of this style whose client area is `client`
// at `dpi` (AdjustWindowRectExForDpi where the system has it; else the frame
// of `window` as it is now, scaled from `current_dpi`).
SIZE outer_size(HWND window, SIZE client, int dpi, int current_dpi);

}  // namespace dbsetup::win32
