#pragma once

// What the Win32 window must look like at a DPI, checked control by control:
// place within a pixel of the layout's conversion, the font's size at that
// DPI, every text inside its control in the control's own font, and the
// client area holding the window's controls.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "win32_window_harness.h"
#include "window/layout_walk.h"

namespace dbsetup::testing {

// The box of `text` on one line in `w`'s font; with `prefix`, '&' marks a
// mnemonic.
inline SIZE text_size(HWND w, const std::wstring& text, bool prefix = false) {
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)));
  RECT r{0, 0, 0, 0};
  DrawTextW(dc, text.empty() ? L" " : text.c_str(),
            text.empty() ? 1 : static_cast<int>(text.size()), &r,
            DT_CALCRECT | DT_SINGLELINE | (prefix ? 0 : DT_NOPREFIX));
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  return {text.empty() ? 0 : r.right - r.left, r.bottom - r.top};
}

inline RECT rect_in(HWND w, HWND parent) {
  RECT r;
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

inline bool inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

inline void expect_laid_out(Win32Window& window, int dpi) {
  SCOPED_TRACE(std::to_string(dpi) + " dpi");
  EXPECT_EQ(window.dpi(), dpi);
  RECT client;
  GetClientRect(window.hwnd(), &client);
  EXPECT_EQ(client.right, layout::client_size(dpi).width);
  EXPECT_EQ(client.bottom, layout::client_size(dpi).height);
  HWND tab = window.control("tab_1");
  RECT display;
  GetClientRect(tab, &display);
  SendMessageW(tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
  // The pages inside the tab control's display area.
  for (const char* page : {"tabpage_mss7", "tabpage_mss2000"})
    EXPECT_TRUE(inside(rect_in(window.control(page), tab), display)) << page;
  for_each_control([&](const char* page, const layout::Control& c) {
    HWND parent_hwnd = page ? window.control(page) : window.hwnd();
    RECT parent_client;
    GetClientRect(parent_hwnd, &parent_client);
    HWND w = window.control(c.name);
    const RECT r = rect_in(w, parent_hwnd);
    const layout::PixelRect want = layout::to_pixels(c, dpi);
    const std::wstring text = window_text(w);
    const SIZE box = text_size(w, text, c.kind == layout::Kind::Button);
    const int width = r.right - r.left;
    if (c.kind == layout::Kind::Static) {
      // A static text holds its place, grown where its text line needs it.
      const RECT place{want.x + 1, want.y + 1, want.x + want.width - 1, want.y + want.height - 1};
      EXPECT_TRUE(inside(place, r)) << r.left << "," << r.top << " " << width;
      EXPECT_LE(box.cx, width) << narrow(text);
      EXPECT_LE(box.cy, r.bottom - r.top);
    } else {
      EXPECT_LE(std::abs(r.left - want.x), 1) << r.left;
      EXPECT_LE(std::abs(r.top - want.y), 1) << r.top;
      EXPECT_LE(std::abs(width - want.width), 1) << width;
      EXPECT_LE(std::abs(r.bottom - r.top - want.height), 1) << r.bottom - r.top;
      // The window's own controls inside its client area (the rule runs to
      // its edge), a page's inside the page.
      EXPECT_TRUE((c.flags & layout::kRule) || inside(r, parent_client));
    }
    HWND inner = c.kind == layout::Kind::DropDown
                     ? reinterpret_cast<HWND>(SendMessageW(w, CBEM_GETCOMBOCONTROL, 0, 0))
                     : w;
    if (c.face != layout::Face::None) {
      LOGFONTW lf{};
      GetObjectW(reinterpret_cast<HFONT>(SendMessageW(inner, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
      EXPECT_EQ(lf.lfHeight, -MulDiv(c.points, dpi, 72));
    }
    if (c.kind == layout::Kind::DropDown) {
      RECT dropped{};
      SendMessageW(inner, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
      EXPECT_LE(std::abs(dropped.bottom - dropped.top -
                         layout::to_pixels_v(layout::kDroppedListUnits, dpi)),
                1);
    } else if (c.kind == layout::Kind::Button) {
      EXPECT_LE(box.cx + 2 * GetSystemMetrics(SM_CXEDGE), width);
    } else if (c.kind == layout::Kind::Group) {
      EXPECT_LE(box.cx + 2 * layout::scaled(8, dpi), width);
    } else if (c.kind == layout::Kind::Edit && !(c.flags & layout::kMasked)) {
      RECT format{};
      SendMessageW(w, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
      EXPECT_LE(box.cx, format.right - format.left) << narrow(text);
    }
  });
}

}  // namespace dbsetup::testing
