#include "window/win32/win32_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>

#include "detect/detect.h"
#include "pickers/pickers.h"
#include "platform/codepage.h"
#include "window/opening.h"
#include "window/win32/win32_paint.h"

namespace dbsetup {

namespace {

using layout::Control;
using layout::Kind;

constexpr wchar_t kWindowClass[] = L"db_setup_w_createdb";
constexpr wchar_t kPageClass[] = L"db_setup_tabpage";

// Resource name of a picture: the file's stem in capitals ("select.bmp" is
// the bitmap SELECT). The GIF logo is carried as a bitmap of the same name.
std::wstring resource_name(const char* file) {
  std::string stem(file);
  stem = stem.substr(0, stem.find('.'));
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return widen(stem);
}

void register_classes(HINSTANCE instance, WNDPROC proc) {
  static bool done = false;
  if (done) return;
  done = true;
  INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                            ICC_PROGRESS_CLASS | ICC_USEREX_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
  wc.lpszClassName = kPageClass;
  RegisterClassExW(&wc);
}

}  // namespace

Win32Window::Win32Window(Settings& gs, Transaction& sqlca, Platform& platform)
    : ctx_{gs, sqlca, *this, state_, platform}, thread_(GetCurrentThreadId()) {
  register_classes(GetModuleHandleW(nullptr), &Win32Window::window_proc);
  face_brush_ = GetSysColorBrush(COLOR_BTNFACE);
  build();
}

Win32Window::~Win32Window() {
  if (busy_) set_busy(false);
  if (hwnd_) {
    on_closed = nullptr;
    DestroyWindow(hwnd_);
  }
  if (images_) ImageList_Destroy(static_cast<HIMAGELIST>(images_));
  for (auto& [key, f] : fonts_) DeleteObject(f);
  for (auto& [key, b] : pictures_) DeleteObject(b);
}

HFONT Win32Window::font(layout::Face face, int points, bool bold) {
  const layout::FaceSpec& entry = layout::face_spec(face);
  const std::string key =
      std::string(entry.name) + "/" + std::to_string(points) + (bold ? "b" : "");
  auto it = fonts_.find(key);
  if (it != fonts_.end()) return it->second;
  HDC dc = GetDC(nullptr);
  const int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
  ReleaseDC(nullptr, dc);
  HFONT f = CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                        static_cast<BYTE>(entry.charset), OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, VARIABLE_PITCH | (entry.swiss ? FF_SWISS : FF_DONTCARE),
                        widen(entry.name).c_str());
  fonts_[key] = f;
  return f;
}

// A picture from the resources, its background (the colour of its top-left
// pixel) turned into the button-face colour so that it sits on the window's
// own colour.
HBITMAP Win32Window::picture(const char* file) {
  auto it = pictures_.find(file);
  if (it != pictures_.end()) return it->second;
  auto bmp = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), resource_name(file).c_str(),
                                             IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  DIBSECTION dib{};
  if (bmp && GetObjectW(bmp, sizeof(dib), &dib) == sizeof(dib) && dib.dsBm.bmBitsPixel == 24 &&
      std::string(file) != "orlin.gif") {
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
  pictures_[file] = bmp;
  return bmp;
}

HWND Win32Window::create_control(const Control& c, HWND parent) {
  const layout::PixelRect r = layout::to_pixels(c);
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | ((c.flags & layout::kHidden) ? 0 : WS_VISIBLE);
  DWORD ex = 0;
  const wchar_t* cls = L"STATIC";
  int height = r.height;
  switch (c.kind) {
    case Kind::Static:
      style |= SS_NOPREFIX | SS_CENTERIMAGE | ((c.flags & layout::kFieldLabel) ? SS_RIGHT : 0);
      break;
    case Kind::Group:
      cls = L"BUTTON";
      style |= BS_GROUPBOX;
      break;
    case Kind::Picture:
      style |= SS_BITMAP | SS_CENTERIMAGE;
      break;
    case Kind::PictureButton:
      cls = L"BUTTON";
      style |= BS_PUSHBUTTON | BS_BITMAP;
      break;
    case Kind::Edit:
      cls = L"EDIT";
      style |= ES_AUTOHSCROLL;
      if (!(c.flags & layout::kDisplay)) ex |= WS_EX_CLIENTEDGE;
      if (c.flags & layout::kMasked) style |= ES_PASSWORD;
      if (c.flags & (layout::kDisplay | layout::kNotTypeable)) style |= ES_READONLY;
      if (c.flags & layout::kDisabled) style |= WS_DISABLED;
      break;
    case Kind::DropDown:
      cls = WC_COMBOBOXEXW;
      style |= CBS_DROPDOWNLIST | WS_VSCROLL;
      height = layout::to_pixels_v(layout::kDroppedListUnits);  // with the dropped list
      break;
    case Kind::Tab:
      cls = WC_TABCONTROLW;
      style |= WS_CLIPCHILDREN;
      ex |= WS_EX_CONTROLPARENT;
      break;
    case Kind::Button:
      cls = L"BUTTON";
      style |= (c.flags & layout::kDefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
      break;
    case Kind::Progress:
      cls = PROGRESS_CLASSW;
      break;
  }
  if (c.tab > 0) style |= WS_TABSTOP;
  const bool picture_text =
      c.kind == Kind::Picture || c.kind == Kind::PictureButton || c.kind == Kind::DropDown;
  const std::wstring text = picture_text ? std::wstring() : widen(c.text);
  HWND w = CreateWindowExW(ex, cls, text.c_str(), style, r.x, r.y, r.width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(1000 + controls_.size())),
                           GetModuleHandleW(nullptr), nullptr);
  if (c.face != layout::Face::None) {
    SendMessageW(w, WM_SETFONT,
                 reinterpret_cast<WPARAM>(font(c.face, c.points, (c.flags & layout::kBold) != 0)),
                 FALSE);
  }
  if (c.kind == Kind::Static) {
    win32::fit_static_to_text(w);
  } else if (c.kind == Kind::Group) {
    win32::make_group_box(w, c);
  } else if (c.kind == Kind::Picture) {
    SendMessageW(w, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture(c.text)));
  } else if (c.kind == Kind::PictureButton) {
    SendMessageW(w, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture(c.text)));
  } else if (c.kind == Kind::Progress) {
    SendMessageW(w, PBM_SETRANGE32, 0, 100);
  } else if (c.kind == Kind::DropDown) {
    HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, 1, 1);
    auto bmp =
        static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), resource_name(c.text).c_str(),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ImageList_AddMasked(list, bmp, RGB(255, 255, 255));
    DeleteObject(bmp);
    SendMessageW(w, CBEM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list));
    images_ = list;
    // The control keeps the closed height for itself and gives its inner
    // combo box the rest: the dropped control is as high as stored.
    RECT closed{};
    GetWindowRect(w, &closed);
    SetWindowPos(reinterpret_cast<HWND>(SendMessageW(w, CBEM_GETCOMBOCONTROL, 0, 0)), nullptr, 0, 0,
                 r.width, (closed.bottom - closed.top) + height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  controls_.push_back({&c, w});
  return w;
}

void Win32Window::create_controls(layout::Parent parent, HWND parent_hwnd) {
  // Each new child goes below its earlier siblings: an earlier control lies
  // in front of a later one, as the layout has it.
  for (const Control& c : layout::controls_of(parent)) create_control(c, parent_hwnd);
}

void Win32Window::build() {
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD ex = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, layout::kClientWidth, layout::kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, ex);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  hwnd_ =
      CreateWindowExW(ex, kWindowClass, L"", style, work.left + (work.right - work.left - w) / 2,
                      work.top + (work.bottom - work.top - h) / 2, w, h, nullptr, nullptr,
                      GetModuleHandleW(nullptr), this);
  // No restore, size, minimise or maximise in the system menu.
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  for (UINT item : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE})
    DeleteMenu(menu, item, MF_BYCOMMAND);

  create_controls(layout::Parent::Window, hwnd_);
  tab_ = control("tab_1");
  const layout::PixelRect r =
      layout::to_pixels(layout::kPageX, layout::kPageY, layout::kPageWidth, layout::kPageHeight);
  for (const layout::Page& p : layout::kPages) {
    HWND page = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"",
                                WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, r.x, r.y, r.width,
                                r.height, tab_, nullptr, GetModuleHandleW(nullptr), this);
    pages_[p.name] = page;
    create_controls(p.parent, page);
  }
  // The pages lie in front of the tab control's own drawing.
  for (const layout::Page& p : layout::kPages)
    if (p.shown) show_page(p.name);
}

HWND Win32Window::control(std::string_view name) const {
  for (const Created& c : controls_)
    if (name == c.entry->name) return c.hwnd;
  auto it = pages_.find(name);
  return it == pages_.end() ? nullptr : it->second;
}

std::string Win32Window::name_of(HWND hwnd) const {
  for (; hwnd; hwnd = GetParent(hwnd)) {
    for (const Created& c : controls_)
      if (c.hwnd == hwnd) return c.entry->name;
    for (const auto& [name, page] : pages_)
      if (page == hwnd) return name;
    if (hwnd == hwnd_) break;
  }
  return {};
}

bool Win32Window::open(const std::string& edition) {
  bool ok = w_createdb_open(ctx_, edition);
  set_busy(false);
  if (!ok) close();
  return ok;
}

void Win32Window::show() {
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
  // The first control of the tab order (the tab control) takes the focus.
  std::vector<HWND> chain = tab_chain();
  if (!chain.empty()) SetFocus(chain.front());
}

int Win32Window::run() {
  MSG msg;
  while (hwnd_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (pre_translate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

std::vector<HWND> Win32Window::tab_chain() const {
  // The tab control, the input controls of the shown page, the command
  // buttons; only what can take the focus now.
  std::vector<HWND> chain;
  auto add = [&](layout::Parent parent) {
    for (const Control* c : layout::tab_sequence(parent)) {
      HWND w = control(c->name);
      if (w && IsWindowVisible(w) && IsWindowEnabled(w)) chain.push_back(w);
    }
  };
  std::vector<const Control*> window = layout::tab_sequence(layout::Parent::Window);
  for (const Control* c : window) {
    HWND w = control(c->name);
    if (w && IsWindowVisible(w) && IsWindowEnabled(w)) chain.push_back(w);
    if (c->kind == Kind::Tab) {
      for (const layout::Page& p : layout::kPages) add(p.parent);
    }
  }
  return chain;
}

void Win32Window::move_focus(bool backwards) {
  std::vector<HWND> chain = tab_chain();
  if (chain.empty()) return;
  HWND focus = GetFocus();
  int at = -1;
  for (size_t i = 0; i < chain.size(); ++i)
    if (chain[i] == focus || IsChild(chain[i], focus)) at = static_cast<int>(i);
  const int n = static_cast<int>(chain.size());
  const int next = at < 0 ? 0 : (at + (backwards ? n - 1 : 1)) % n;
  SetFocus(chain[next]);
  // An edit field shows its whole text selected when tabbed into.
  wchar_t cls[16] = {};
  GetClassNameW(chain[next], cls, 16);
  if (lstrcmpiW(cls, L"Edit") == 0) SendMessageW(chain[next], EM_SETSEL, 0, -1);
}

bool Win32Window::pre_translate(MSG& msg) {
  if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return false;
  if (msg.message == WM_KEYDOWN) {
    switch (msg.wParam) {
      case VK_RETURN:
        press(layout::kDefaultButton);
        return true;
      case VK_ESCAPE:
        press(layout::kCancelButton);
        return true;
      case VK_TAB:
        move_focus(GetKeyState(VK_SHIFT) < 0);
        return true;
      default:
        break;
    }
  }
  // Mnemonics (Alt+S, Alt+X) and the arrow keys of the dialog manager.
  return IsDialogMessageW(hwnd_, &msg) != FALSE;
}

// Presses the button that carries `flag`, if it can be pressed now.
void Win32Window::press(unsigned flag) {
  for (const Created& c : controls_) {
    if ((c.entry->flags & flag) && IsWindowEnabled(c.hwnd) && IsWindowVisible(c.hwnd)) {
      SendMessageW(c.hwnd, BM_CLICK, 0, 0);
      return;
    }
  }
}

void Win32Window::command(HWND from, int code) {
  const std::string name = name_of(from);
  if (code == BN_CLICKED && name == "cb_dbsetup") {
    install_clicked();
  } else if (code == BN_CLICKED && name == "cb_exit") {
    close();
  } else if (code == BN_CLICKED) {
    static void (*const handlers[])(SetupContext&) = {
        &pb_mss7data_backupfile_clicked, &pb_mss7data_setuppath_clicked,
        &pb_mss2000data_backupfile_clicked, &pb_mss2000data_setuppath_clicked};
    for (size_t i = 0; i < std::size(layout::kPickerButtons); ++i)
      if (name == layout::kPickerButtons[i]) handlers[i](ctx_);
  } else if (code == CBN_SELCHANGE && name == "ddplb_mss2000_instances") {
    // Only the operator's choice arrives here: a selection made by the
    // program raises no notification.
    const auto index = SendMessageW(control(name), CB_GETCURSEL, 0, 0);
    if (index >= 0) ddplb_mss2000_instances_selectionchanged(ctx_, static_cast<int>(index) + 1);
  }
}

void Win32Window::install_clicked() {
  if (installing_) return;
  installing_ = true;
  cb_dbsetup_clicked(ctx_);
  // The procedure leaves the busy pointer on; it ends with the procedure.
  set_busy(false);
  set_progress(-1);
  installing_ = false;
}

void Win32Window::close() {
  // The install procedure runs to its end; the window closes afterwards.
  if (installing_ || !hwnd_) return;
  DestroyWindow(hwnd_);
}

LRESULT CALLBACK Win32Window::window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return self ? self->handle(hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT Win32Window::handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (lp) command(reinterpret_cast<HWND>(lp), HIWORD(wp));
      return 0;
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lp);
      // The one tab shown is always the selected one.
      if (hdr->hwndFrom == tab_ && hdr->code == TCN_SELCHANGING) return TRUE;
      break;
    }
    case WM_CTLCOLORSTATIC: {
      auto dc = reinterpret_cast<HDC>(wp);
      const Control* entry = nullptr;
      for (const Created& c : controls_)
        if (c.hwnd == reinterpret_cast<HWND>(lp)) entry = c.entry;
      if (!entry) break;
      if (entry->colour != layout::Colour::Default) {
        const layout::Rgb rgb = layout::colour_rgb(entry->colour);
        SetTextColor(dc, RGB(rgb.r, rgb.g, rgb.b));
      } else {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      }
      if (entry->kind == Kind::Edit && (entry->flags & layout::kNotTypeable)) {
        // Read-only but typed-looking: the field's own white.
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(face_brush_);
    }
    case WM_SETCURSOR:
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
        return TRUE;
      }
      break;
    case WM_APP:  // restore progress posted from the database call
      apply_progress(static_cast<int>(wp));
      return 0;
    case WM_APP + 1:  // a call carried over from another thread
      (*reinterpret_cast<const std::function<void()>*>(lp))();
      return 0;
    case WM_CLOSE:
      if (hwnd == hwnd_) close();
      return 0;
    case WM_DESTROY:
      if (hwnd == hwnd_) {
        hwnd_ = nullptr;
        if (on_closed) on_closed();
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace dbsetup
