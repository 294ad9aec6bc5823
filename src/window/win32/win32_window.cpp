#include "window/win32/win32_window.h"

#include <commctrl.h>

#include <algorithm>

#include "detect/detect.h"
#include "detect/opening.h"
#include "install/install.h"
#include "platform/codepage.h"
#include "window/w_createdb_form.h"
#include "window/win32/win32_dpi.h"
#include "window/win32/win32_paint.h"

namespace dbsetup {

namespace {

using layout::Control;
using layout::Kind;

constexpr wchar_t kWindowClass[] = L"db_setup_w_createdb";
constexpr wchar_t kPageClass[] = L"db_setup_tabpage";

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
    : ctx_{gs, sqlca, *this, form_, platform}, thread_(GetCurrentThreadId()) {
  register_classes(GetModuleHandleW(nullptr), &Win32Window::window_proc);
  face_brush_ = GetSysColorBrush(COLOR_BTNFACE);
  build();
  // The fields show the form as the window stores it.
  bind(form_);
  form_changed();
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

// Creates the control with its class, style and text; its place, font and
// picture come from lay_out().
HWND Win32Window::create_control(const Control& c, HWND parent) {
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | ((c.flags & layout::kHidden) ? 0 : WS_VISIBLE);
  DWORD ex = 0;
  const wchar_t* cls = L"STATIC";
  switch (c.kind) {
    case Kind::Static:
      style |= SS_NOPREFIX | ((c.flags & layout::kFieldLabel) ? SS_RIGHT : 0);
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
  // A first size: a combo box keeps the height it is created with for its
  // dropped list.
  const int height = c.kind == Kind::DropDown ? layout::to_pixels_v(layout::kDroppedListUnits, dpi_)
                                              : layout::to_pixels(c, dpi_).height;
  HWND w = CreateWindowExW(ex, cls, text.c_str(), style, 0, 0, layout::to_pixels(c, dpi_).width,
                           height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(1000 + controls_.size())),
                           GetModuleHandleW(nullptr), nullptr);
  if (c.kind == Kind::Static) {
    win32::make_static(w);
  } else if (c.kind == Kind::Group) {
    win32::make_group_box(w, c);
  } else if (c.kind == Kind::Progress) {
    SendMessageW(w, PBM_SETRANGE32, 0, 100);
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
  // Created on the primary monitor; the DPI of the monitor it is on then
  // gives its size, and it is centred on that monitor's work area.
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  hwnd_ =
      CreateWindowExW(ex, kWindowClass, L"", style, (work.left + work.right) / 2,
                      (work.top + work.bottom) / 2, layout::kMinClientWidth,
                      layout::kMinClientHeight, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  dpi_ = win32::window_dpi(hwnd_);
  // No restore, size, minimise or maximise in the system menu.
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  for (UINT item : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE})
    DeleteMenu(menu, item, MF_BYCOMMAND);

  create_controls(layout::Parent::Window, hwnd_);
  tab_ = control("tab_1");
  for (const layout::Page& p : layout::kPages) {
    HWND page = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"",
                                WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, 0, 0, tab_,
                                nullptr, GetModuleHandleW(nullptr), this);
    pages_[p.name] = page;
    create_controls(p.parent, page);
  }
  // The pages lie in front of the tab control's own drawing.
  for (const layout::Page& p : layout::kPages)
    if (p.shown) show_page(p.parent == layout::Parent::PageMss7 ? Page::mss7 : Page::mss2000);
  lay_out();

  RECT outer{};
  GetWindowRect(hwnd_, &outer);
  MONITORINFO monitor{sizeof(monitor), {}, {}, 0};
  if (GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor))
    work = monitor.rcWork;
  const int w = outer.right - outer.left, h = outer.bottom - outer.top;
  SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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
  // The shown page's first field takes the focus.
  for (const layout::Page& p : layout::kPages) {
    HWND page = control(p.name);
    if (page && IsWindowVisible(page)) focus_control(p.first_field);
  }
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

// Presses the button that carries `flag`, if it can be pressed now. As the
// dialog manager does for Enter, the parent is told of the click directly:
// the focus stays where the key was pressed (BM_CLICK would move it to the
// button).
void Win32Window::press(unsigned flag) {
  for (const Created& c : controls_) {
    if ((c.entry->flags & flag) && IsWindowEnabled(c.hwnd) && IsWindowVisible(c.hwnd)) {
      const auto id = GetDlgCtrlID(c.hwnd);
      SendMessageW(GetParent(c.hwnd), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(c.hwnd));
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
    for (const layout::ButtonHandler& p : layout::kPickerHandlers) {
      if (name != p.control) continue;
      pull_form();
      p.handler(ctx_);
    }
  } else if (code == CBN_SELCHANGE && name == "ddplb_mss2000_instances") {
    // Only the operator's choice arrives here: a selection made by the
    // program raises no notification.
    const auto index = SendMessageW(control(name), CB_GETCURSEL, 0, 0);
    if (index < 0) return;
    pull_form();
    ddplb_mss2000_instances_selectionchanged(ctx_, static_cast<int>(index) + 1);
  }
}

// The install button is greyed while the procedure runs, and available again
// afterwards unless the procedure disabled it (after a success). The focus
// comes back to where it was, unless the procedure moved it to a field.
void Win32Window::install_clicked() {
  if (installing_) return;
  HWND button = control("cb_dbsetup");
  HWND before = GetFocus();
  if (before != hwnd_ && !IsChild(hwnd_, before)) before = nullptr;
  // A greyed window cannot keep the focus: it goes on to the next control.
  if (before == button) move_focus(false);
  installing_ = true;
  focus_asked_ = false;
  apply_install_enabled();
  pull_form();
  cb_dbsetup_clicked(ctx_);
  // The procedure leaves the busy pointer on; it ends with the procedure.
  set_busy(false);
  set_progress(-1);
  installing_ = false;
  if (!hwnd_) return;
  apply_install_enabled();
  if (!focus_asked_ && before && IsWindow(before) && IsWindowEnabled(before) &&
      IsWindowVisible(before))
    SetFocus(before);
}

void Win32Window::apply_install_enabled() {
  if (HWND b = hwnd_ ? control("cb_dbsetup") : nullptr)
    EnableWindow(b, install_wanted_ && !installing_);
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

// The DPI messages of per-monitor aware windows (winuser.h declares them
// for Windows 10 builds only).
constexpr UINT kDpiChanged = 0x02E0;        // WM_DPICHANGED
constexpr UINT kGetDpiScaledSize = 0x02E4;  // WM_GETDPISCALEDSIZE

LRESULT Win32Window::handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kGetDpiScaledSize:
      // The size the window will need at the new DPI, which then comes back
      // as the suggested rectangle of WM_DPICHANGED.
      if (hwnd == hwnd_) {
        const int dpi = static_cast<int>(LOWORD(wp));
        const layout::PixelSize client = layout::client_size(dpi);
        *reinterpret_cast<SIZE*>(lp) =
            win32::outer_size(hwnd_, {client.width, client.height}, dpi, dpi_);
        return TRUE;
      }
      break;
    case kDpiChanged:
      // Moved to a monitor of another DPI, or its DPI changed: to the
      // suggested rectangle, then everything laid out again at the new DPI
      // (the HIWORD is the vertical DPI, the LOWORD the same horizontally).
      if (hwnd == hwnd_) {
        const auto* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        dpi_ = static_cast<int>(HIWORD(wp));
        lay_out();
        return 0;
      }
      break;
    case WM_ACTIVATE:
      // As a dialog does: the focus leaves with the window and comes back
      // to the same control (after a message box, or another program).
      if (hwnd == hwnd_) {
        if (LOWORD(wp) == WA_INACTIVE) {
          HWND focus = GetFocus();
          if (focus && IsChild(hwnd_, focus)) saved_focus_ = focus;
        } else if (saved_focus_ && IsWindow(saved_focus_) && IsWindowVisible(saved_focus_) &&
                   IsWindowEnabled(saved_focus_)) {
          SetFocus(saved_focus_);
          return 0;
        }
      }
      break;
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
