#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "window/w_createdb_layout.h"

namespace dbsetup::win32 {

// Overlapping controls: a static text or a group box must not hide what lies
// behind it except where it draws. A static text's window is cut down to the
// box of its text line; a group box's window to its frame lines and caption.
// Both draw themselves: a static text its one line at a height of its own
// choosing (centred unless set_text_top() says otherwise), a group box the
// etched frame (a single rule for a rule) and the caption in the stored
// colour.

// Makes `text` draw itself; call once, after creation.
void make_static(HWND text);
// Where the top of the text line lies in the static's client area; fits it.
void set_text_top(HWND text, int top);
// Cuts the static down to its text; call again whenever its text, font or
// size changes.
void fit_static_to_text(HWND text);

void make_group_box(HWND group, const layout::Control& entry);
// Cuts the group box down to its lines and caption (the caption inset
// scaled to `dpi`); call again whenever its font or size changes.
void fit_group_box(HWND group, const layout::Control& entry, int dpi);

// Height, ascent and width of `text` in the window's own font.
struct TextBox {
  int width, height, ascent;
};
TextBox text_box(HWND window, const wchar_t* text, int length);

}  // namespace dbsetup::win32
