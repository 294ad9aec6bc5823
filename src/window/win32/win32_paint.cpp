#include "window/win32/win32_paint.h"
// windows.h (above) first: the common-controls headers rely on its types.
#include <commctrl.h>

#include <string>

namespace dbsetup::win32 {

namespace {

std::wstring text_of(HWND w) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
  return text;
}

SIZE text_size(HWND w, const std::wstring& text) {
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)));
  SIZE size{0, 0};
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  if (!text.empty()) GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  size.cy = tm.tmHeight;
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  return size;
}

// The group box's frame: below the middle of the caption's line.
RECT frame_of(HWND w, int caption_height, bool rule) {
  RECT rc;
  GetClientRect(w, &rc);
  if (!rule) rc.top += caption_height / 2;
  return rc;
}

LRESULT CALLBACK group_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  const auto* entry = reinterpret_cast<const layout::Control*>(data);
  const bool rule = (entry->flags & layout::kRule) != 0;
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(w, &ps);
      const std::wstring caption = text_of(w);
      const SIZE size = text_size(w, caption);
      RECT frame = frame_of(w, size.cy, rule);
      RECT all;
      GetClientRect(w, &all);
      FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
      DrawEdge(dc, &frame, EDGE_ETCHED, rule ? BF_TOP : BF_RECT);
      if (!caption.empty()) {
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetBkMode(dc, OPAQUE);
        COLORREF colour = GetSysColor(COLOR_WINDOWTEXT);
        if (entry->colour != layout::Colour::Default) {
          const layout::Rgb rgb = layout::colour_rgb(entry->colour);
          colour = RGB(rgb.r, rgb.g, rgb.b);
        }
        SetTextColor(dc, colour);
        RECT text{8, 0, 8 + size.cx + 4, size.cy};
        DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
                  DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(dc, old);
      }
      EndPaint(w, &ps);
      return 0;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(w, group_proc, 1);
      break;
    default:
      break;
  }
  return DefSubclassProc(w, msg, wp, lp);
}

}  // namespace

void fit_static_to_text(HWND w) {
  RECT rc;
  GetClientRect(w, &rc);
  const std::wstring text = text_of(w);
  const SIZE size = text_size(w, text);
  if (text.empty()) {
    SetWindowRgn(w, CreateRectRgn(0, 0, 0, 0), TRUE);
    return;
  }
  const LONG style = GetWindowLongW(w, GWL_STYLE);
  const int width = static_cast<int>(std::min<LONG>(size.cx + 2, rc.right));
  const int left = (style & SS_TYPEMASK) == SS_RIGHT ? rc.right - width : 0;
  const int top = static_cast<int>(std::max<LONG>(0, (rc.bottom - size.cy) / 2 - 1));
  const int bottom = static_cast<int>(std::min<LONG>(rc.bottom, top + size.cy + 2));
  SetWindowRgn(w, CreateRectRgn(left, top, left + width, bottom), TRUE);
}

void make_group_box(HWND w, const layout::Control& entry) {
  SetWindowSubclass(w, group_proc, 1, reinterpret_cast<DWORD_PTR>(&entry));
  const std::wstring caption = text_of(w);
  const SIZE size = text_size(w, caption);
  const bool rule = (entry.flags & layout::kRule) != 0;
  const RECT f = frame_of(w, size.cy, rule);
  // The frame's two-pixel lines, and the caption's box.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  auto add = [&](int l, int t, int r, int b) {
    HRGN part = CreateRectRgn(l, t, r, b);
    CombineRgn(region, region, part, RGN_OR);
    DeleteObject(part);
  };
  add(f.left, f.top, f.right, f.top + 2);
  if (!rule) {
    add(f.left, f.bottom - 2, f.right, f.bottom);
    add(f.left, f.top, f.left + 2, f.bottom);
    add(f.right - 2, f.top, f.right, f.bottom);
    if (!caption.empty()) add(8, 0, 8 + size.cx + 4, size.cy);
  }
  SetWindowRgn(w, region, FALSE);
}

}  // namespace dbsetup::win32
