// The Win32 window laid out at its DPI: every control's place, font and
// picture from the layout tables, the field labels on their fields' text
// lines and the client area that holds it all. Runs when the window is built
// and again when its DPI changes.

#include "window/win32/win32_window.h"
// windows.h (above) first: the common-controls headers rely on its types.
#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "platform/codepage.h"
#include "platform/text_case.h"
#include "window/win32/win32_paint.h"

namespace dbsetup {

namespace {

using layout::Control;
using layout::Kind;

// Resource name of a picture file: its stem in capitals ("select_150.bmp" is
// the bitmap SELECT_150). The GIF logo is carried as a bitmap of that name.
std::wstring resource_name(const std::string& file) {
  return widen(ascii_upper(file.substr(0, file.find('.'))));
}

HBITMAP load_bitmap(const std::string& file) {
  return static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), resource_name(file).c_str(),
                                         IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

// The table that holds `c`.
layout::Parent parent_of(const Control& c) {
  for (auto parent : {layout::Parent::PageMss7, layout::Parent::PageMss2000}) {
    const auto table = layout::controls_of(parent);
    if (&c >= table.data() && &c < table.data() + table.size()) return parent;
  }
  return layout::Parent::Window;
}

std::wstring window_text(HWND w) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(w, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A window's rectangle in its parent's client coordinates.
RECT rect_in_parent(HWND w) {
  RECT r;
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

}  // namespace

HFONT Win32Window::font(layout::Face face, int points, bool bold) {
  const layout::FaceSpec& entry = layout::face_spec(face);
  const auto key = std::make_tuple(face, points, bold, dpi_);
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;
  // Points at the window's DPI, not the screen's: they differ when the
  // window is on another monitor than the primary one.
  const int height = -MulDiv(points, dpi_, 72);
  HFONT f = CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                        static_cast<BYTE>(entry.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, VARIABLE_PITCH | (entry.swiss ? FF_SWISS : FF_DONTCARE),
                        widen(entry.name).c_str());
  fonts_[key] = f;
  return f;
}

// A picture from the resources at the window's scale, its background (the
// colour of its top-left pixel) turned into the button-face colour so that it
// sits on the window's own colour.
HBITMAP Win32Window::picture(const char* file) {
  const std::string name = layout::picture_file(file, layout::picture_scale(dpi_));
  auto it = pictures_.find(name);
  if (it != pictures_.end()) return it->second;
  HBITMAP bmp = load_bitmap(name);
  DIBSECTION dib{};
  if (bmp && GetObjectW(bmp, sizeof(dib), &dib) == sizeof(dib) && dib.dsBm.bmBitsPixel == 24 &&
      name.rfind("orlin", 0) != 0) {
    auto* bits = static_cast<BYTE*>(dib.dsBm.bmBits);
    const int stride = dib.dsBm.bmWidthBytes;
    const int h = dib.dsBm.bmHeight;
    // Bottom-up rows: the top-left pixel is in the last row.
    const BYTE* corner = bits + (h - 1) * stride;
    const BYTE b0 = corner[0], g0 = corner[1], r0 = corner[2];
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < dib.dsBm.bmWidth; ++x) {
        BYTE* p = bits + y * stride + x * 3;
        if (p[0] == b0 && p[1] == g0 && p[2] == r0) {
          p[0] = GetBValue(face);
          p[1] = GetGValue(face);
          p[2] = GetRValue(face);
        }
      }
    }
  }
  pictures_[name] = bmp;
  return bmp;
}

void Win32Window::place_drop_down(const Created& c, const layout::PixelRect& r) {
  HWND w = c.hwnd;
  HWND inner = reinterpret_cast<HWND>(SendMessageW(w, CBEM_GETCOMBOCONTROL, 0, 0));
  // The entries' picture at the window's scale.
  const int percent = layout::picture_scale(dpi_);
  if (images_scale_ != percent) {
    const int side = 16 * percent / 100;
    HIMAGELIST list = ImageList_Create(side, side, ILC_COLOR24 | ILC_MASK, 1, 1);
    HBITMAP bmp = load_bitmap(layout::picture_file(c.entry->text, percent));
    ImageList_AddMasked(list, bmp, RGB(255, 255, 255));
    DeleteObject(bmp);
    SendMessageW(w, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list));
    if (images_) ImageList_Destroy(static_cast<HIMAGELIST>(images_));
    images_ = list;
    images_scale_ = percent;
  }
  // The control takes the height of its closed box from its font and its
  // pictures: its selection field is made as high as the layout has it.
  const int dropped = layout::to_pixels_v(layout::kDroppedListUnits, dpi_);
  SetWindowPos(w, nullptr, r.x, r.y, r.width, dropped, SWP_NOZORDER | SWP_NOACTIVATE);
  // Its own answer to a height asked of its selection field may differ from
  // the height asked (by a margin of its own): asked again, corrected by
  // what came out.
  auto request = SendMessageW(inner, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
  RECT closed = rect_in_parent(w);
  for (int tries = 0; tries < 3 && closed.bottom - closed.top != r.height; ++tries) {
    request += r.height - (closed.bottom - closed.top);
    SendMessageW(inner, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), request);
    SetWindowPos(w, nullptr, r.x, r.y, r.width, dropped, SWP_NOZORDER | SWP_NOACTIVATE);
    closed = rect_in_parent(w);
  }
  // It keeps the closed height for itself and gives its inner combo box the
  // rest: the dropped list is as high as stored.
  SetWindowPos(inner, nullptr, 0, 0, r.width, (closed.bottom - closed.top) + dropped,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::place(const Created& c) {
  const Control& e = *c.entry;
  const layout::PixelRect r = layout::to_pixels(e, dpi_);
  HWND w = c.hwnd;
  if (e.face != layout::Face::None) {
    SendMessageW(w, WM_SETFONT,
                 reinterpret_cast<WPARAM>(font(e.face, e.points, (e.flags & layout::kBold) != 0)),
                 FALSE);
  }
  if (e.kind == Kind::DropDown) {
    place_drop_down(c, r);
    return;
  }
  if (e.kind == Kind::Picture) {
    SendMessageW(w, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture(e.text)));
  } else if (e.kind == Kind::PictureButton) {
    SendMessageW(w, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture(e.text)));
  }
  SetWindowPos(w, nullptr, r.x, r.y, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
  if (e.kind == Kind::Group) win32::fit_group_box(w, e, dpi_);
  InvalidateRect(w, nullptr, TRUE);
}

// Where a field label's text line starts (its parent's coordinates): on the
// line of its field's text, with the same baseline. An edit field writes its
// text at the top of its formatting rectangle; a list centres it in its
// closed box. Without a field: centred in the label's own place.
int Win32Window::label_line_top(const Created& label, const layout::PixelRect& place) {
  const win32::TextBox own = win32::text_box(label.hwnd, L"", 0);
  const Control* field = layout::field_of(*label.entry, parent_of(*label.entry));
  HWND f = field ? control(field->name) : nullptr;
  if (!f) return place.y + (place.height - own.height) / 2;
  const win32::TextBox line = win32::text_box(f, L"", 0);
  int baseline = 0;
  if (field->kind == Kind::Edit) {
    RECT format{};
    SendMessageW(f, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    POINT top{0, format.top};
    MapWindowPoints(f, GetParent(f), &top, 1);
    baseline = top.y + line.ascent;
  } else {
    const RECT box = rect_in_parent(f);
    baseline = box.top + (box.bottom - box.top - line.height) / 2 + line.ascent;
  }
  return baseline - own.ascent;
}

// A static text takes its place from the layout and grows where its text
// line at this DPI needs more room, so that nothing of it is cut: wider on
// the side away from its alignment (a field label to the left, away from its
// field), as far as its parent allows, and higher where its line (a label's
// on its field's line) reaches beyond it.
void Win32Window::fit_static(const Created& c) {
  HWND w = c.hwnd;
  const layout::PixelRect r = layout::to_pixels(*c.entry, dpi_);
  const std::wstring text = window_text(w);
  const win32::TextBox box = win32::text_box(w, text.c_str(), static_cast<int>(text.size()));
  const int needed = box.width + 2;
  RECT parent{};
  GetClientRect(GetParent(w), &parent);
  int x = r.x, width = r.width;
  if (needed > width) {
    if (c.entry->flags & layout::kFieldLabel) {
      x = std::max(0, r.x + r.width - needed);
      width = r.x + r.width - x;
    } else {
      width = std::min(needed, static_cast<int>(parent.right) - r.x);
    }
  }
  const int line = (c.entry->flags & layout::kFieldLabel) ? label_line_top(c, r)
                                                          : r.y + (r.height - box.height) / 2;
  const int top = std::max(0, std::min(r.y, line));
  const int bottom = std::max(r.y + r.height, line + box.height);
  SetWindowPos(w, nullptr, x, top, width, bottom - top, SWP_NOZORDER | SWP_NOACTIVATE);
  win32::set_text_top(w, line - top);
}

void Win32Window::fit_client() {
  const layout::PixelSize client = layout::client_size(dpi_);
  RECT outer{}, inner{};
  GetWindowRect(hwnd_, &outer);
  GetClientRect(hwnd_, &inner);
  const int frame_w = (outer.right - outer.left) - inner.right;
  const int frame_h = (outer.bottom - outer.top) - inner.bottom;
  SetWindowPos(hwnd_, nullptr, 0, 0, client.width + frame_w, client.height + frame_h,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Window::lay_out() {
  for (const Created& c : controls_) place(c);
  const layout::PixelRect page = layout::to_pixels(layout::kPageX, layout::kPageY,
                                                   layout::kPageWidth, layout::kPageHeight, dpi_);
  for (const auto& [name, w] : pages_)
    SetWindowPos(w, nullptr, page.x, page.y, page.width, page.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  // Texts once every field has its place and font.
  for (const Created& c : controls_)
    if (c.entry->kind == Kind::Static) fit_static(c);
  fit_client();
  // The fonts of another DPI are no longer used.
  for (auto it = fonts_.begin(); it != fonts_.end();) {
    if (std::get<3>(it->first) == dpi_) {
      ++it;
    } else {
      DeleteObject(it->second);
      it = fonts_.erase(it);
    }
  }
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace dbsetup
