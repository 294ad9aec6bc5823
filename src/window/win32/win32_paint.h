#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "window/w_createdb_layout.h"

namespace dbsetup::win32 {

// Overlapping controls: a static text or a group box must not hide what lies
// behind it except where it draws. A static text's window is cut down to the
// box of its text (call again whenever the text changes); a group box's
// window to its frame lines and caption, and it draws itself: the etched
// frame (a single rule for a rule) and the caption in the stored colour.

void fit_static_to_text(HWND text);
void make_group_box(HWND group, const layout::Control& entry);

}  // namespace dbsetup::win32
