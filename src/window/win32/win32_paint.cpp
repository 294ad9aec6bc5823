#include "window/win32/win32_paint.h"
// windows.h (above) first: the common-controls headers rely on its types.
#include <commctrl.h>

#include <algorithm>
#include <string>

namespace dbsetup::win32 {

namespace {

constexpr wchar_t kTextTop[] = L"db_setup.text_top";
constexpr wchar_t kInset[] = L"db_setup.caption_inset";
// Window properties hold a pointer-sized value; an offset keeps a negative
// or zero height apart from "not set".
constexpr INT_PTR kPropBias = 0x10000;

std::wstring text_of(HWND w) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
  return text;
}

HFONT font_of(HWND w) { return reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0)); }

bool has_prop(HWND w, const wchar_t* name) { return GetPropW(w, name) != nullptr; }
int prop(HWND w, const wchar_t* name) {
  return static_cast<int>(reinterpret_cast<INT_PTR>(GetPropW(w, name)) - kPropBias);
}
void set_prop(HWND w, const wchar_t* name, int value) {
  SetPropW(w, name, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(value) + kPropBias));
}

int text_top_of(HWND w, int line_height) {
  if (has_prop(w, kTextTop)) return prop(w, kTextTop);
  RECT rc;
  GetClientRect(w, &rc);
  return (rc.bottom - line_height) / 2;
}

bool right_aligned(HWND w) { return (GetWindowLongW(w, GWL_STYLE) & SS_TYPEMASK) == SS_RIGHT; }

void paint_static(HWND w, HDC dc) {
  RECT rc;
  GetClientRect(w, &rc);
  // The parent chooses the colours, as for the system's own statics.
  auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
      GetParent(w), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(w)));
  FillRect(dc, &rc, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
  const std::wstring text = text_of(w);
  HGDIOBJ old = SelectObject(dc, font_of(w));
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SetBkMode(dc, TRANSPARENT);
  RECT line = rc;
  line.top = text_top_of(w, tm.tmHeight);
  line.bottom = line.top + tm.tmHeight;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &line,
            (right_aligned(w) ? DT_RIGHT : DT_LEFT) | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
}

// The group box's frame: below the middle of the caption's line.
RECT frame_of(HWND w, int caption_height, bool rule) {
  RECT rc;
  GetClientRect(w, &rc);
  if (!rule) rc.top += caption_height / 2;
  return rc;
}

void paint_group(HWND w, HDC dc, const layout::Control& entry) {
  const bool rule = (entry.flags & layout::kRule) != 0;
  const std::wstring caption = text_of(w);
  const TextBox size = text_box(w, caption.c_str(), static_cast<int>(caption.size()));
  RECT frame = frame_of(w, size.height, rule);
  RECT all;
  GetClientRect(w, &all);
  FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
  DrawEdge(dc, &frame, EDGE_ETCHED, rule ? BF_TOP : BF_RECT);
  if (caption.empty()) return;
  HGDIOBJ old = SelectObject(dc, font_of(w));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  SetBkMode(dc, OPAQUE);
  COLORREF colour = GetSysColor(COLOR_WINDOWTEXT);
  if (entry.colour != layout::Colour::Default) {
    const layout::Rgb rgb = layout::colour_rgb(entry.colour);
    colour = RGB(rgb.r, rgb.g, rgb.b);
  }
  SetTextColor(dc, colour);
  const int inset = prop(w, kInset);
  RECT text{inset, 0, inset + size.width + 4, size.height};
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text,
            DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
}

// Statics and group boxes paint themselves whole; a group box's subclass
// carries its layout entry, a static's carries none.
LRESULT CALLBACK painted_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  const auto* group = reinterpret_cast<const layout::Control*>(data);
  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(w, &ps);
      if (group)
        paint_group(w, dc, *group);
      else
        paint_static(w, dc);
      EndPaint(w, &ps);
      return 0;
    }
    case WM_NCDESTROY:
      RemovePropW(w, group ? kInset : kTextTop);
      RemoveWindowSubclass(w, painted_proc, 1);
      break;
    default:
      break;
  }
  return DefSubclassProc(w, msg, wp, lp);
}

}  // namespace

TextBox text_box(HWND w, const wchar_t* text, int length) {
  HDC dc = GetDC(w);
  HGDIOBJ old = SelectObject(dc, font_of(w));
  SIZE size{0, 0};
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  if (length > 0) GetTextExtentPoint32W(dc, text, length, &size);
  SelectObject(dc, old);
  ReleaseDC(w, dc);
  return {static_cast<int>(size.cx), static_cast<int>(tm.tmHeight), static_cast<int>(tm.tmAscent)};
}

void make_static(HWND w) { SetWindowSubclass(w, painted_proc, 1, 0); }

void set_text_top(HWND w, int top) {
  set_prop(w, kTextTop, top);
  fit_static_to_text(w);
}

void fit_static_to_text(HWND w) {
  RECT rc;
  GetClientRect(w, &rc);
  const std::wstring text = text_of(w);
  const TextBox size = text_box(w, text.c_str(), static_cast<int>(text.size()));
  if (text.empty()) {
    SetWindowRgn(w, CreateRectRgn(0, 0, 0, 0), TRUE);
    return;
  }
  const int width = static_cast<int>(std::min<LONG>(size.width + 2, rc.right));
  const int left = right_aligned(w) ? rc.right - width : 0;
  const int top = text_top_of(w, size.height);
  SetWindowRgn(w,
               CreateRectRgn(left, std::max(0, top - 1), left + width,
                             std::min(static_cast<int>(rc.bottom), top + size.height + 1)),
               TRUE);
}

void make_group_box(HWND w, const layout::Control& entry) {
  SetWindowSubclass(w, painted_proc, 1, reinterpret_cast<DWORD_PTR>(&entry));
}

void fit_group_box(HWND w, const layout::Control& entry, int dpi) {
  const int inset = layout::scaled(8, dpi);
  set_prop(w, kInset, inset);
  const std::wstring caption = text_of(w);
  const TextBox size = text_box(w, caption.c_str(), static_cast<int>(caption.size()));
  const bool rule = (entry.flags & layout::kRule) != 0;
  const RECT f = frame_of(w, size.height, rule);
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
    if (!caption.empty()) add(inset, 0, inset + size.width + 4, size.height);
  }
  SetWindowRgn(w, region, TRUE);
}

}  // namespace dbsetup::win32
