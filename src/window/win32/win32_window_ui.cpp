// The window's operations for the core (WindowUi) on the Win32 controls.
// Texts are UTF-8 here and UTF-16 at every Win32 call.

#include "window/win32/win32_window.h"
// windows.h (above) first: the common-controls headers rely on its types.
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <memory>

#include <objbase.h>
#include <shlobj.h>
#include "platform/codepage.h"
#include "window/w_createdb_form.h"
#include "window/worker_call.h"

namespace dbsetup {

namespace {

std::wstring window_text(HWND w) {
  std::wstring out(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
  out.resize(static_cast<size_t>(GetWindowTextW(w, out.data(), static_cast<int>(out.size()))));
  return out;
}

bool is_class(HWND w, const wchar_t* name) {
  wchar_t cls[32] = {};
  GetClassNameW(w, cls, 32);
  return lstrcmpiW(cls, name) == 0;
}

// Keyboard and mouse messages: the window takes none while a database call
// runs.
bool is_input(UINT msg) {
  return (msg >= WM_KEYFIRST && msg <= WM_KEYLAST) ||
         (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) ||
         (msg >= WM_NCMOUSEMOVE && msg <= WM_NCXBUTTONDBLCLK);
}

// While a modal box or dialog is up, the arrow shows over the window even
// during the procedure; the busy pointer comes back afterwards.
class ArrowWhileModal {
 public:
  explicit ArrowWhileModal(bool& busy) : busy_(busy), was_(busy) {
    busy_ = false;
    if (was_) SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)));
  }
  ~ArrowWhileModal() {
    busy_ = was_;
    if (was_) SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));
  }
  ArrowWhileModal(const ArrowWhileModal&) = delete;
  ArrowWhileModal& operator=(const ArrowWhileModal&) = delete;

 private:
  bool& busy_;
  bool was_;
};

}  // namespace

bool Win32Window::on_gui_thread() const { return GetCurrentThreadId() == thread_; }

void Win32Window::on_gui(const std::function<void()>& fn) {
  if (on_gui_thread() || !hwnd_) {
    fn();
  } else {
    SendMessageW(hwnd_, WM_APP + 1, 0, reinterpret_cast<LPARAM>(&fn));
  }
}

std::string Win32Window::text(std::string_view name) {
  std::string out;
  on_gui([&] {
    HWND w = hwnd_ ? control(name) : nullptr;
    if (!w) return;
    if (is_class(w, WC_COMBOBOXEXW)) {
      const auto index = SendMessageW(w, CB_GETCURSEL, 0, 0);
      if (index < 0) return;
      wchar_t buffer[512] = {};
      COMBOBOXEXITEMW item{};
      item.mask = CBEIF_TEXT;
      item.iItem = index;
      item.pszText = buffer;
      item.cchTextMax = 512;
      SendMessageW(w, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
      out = narrow(buffer);
    } else {
      out = narrow(window_text(w));
    }
  });
  return out;
}

void Win32Window::set_text(std::string_view name, const std::string& value) {
  on_gui([&] {
    HWND w = hwnd_ ? control(name) : nullptr;
    if (!w) return;
    SetWindowTextW(w, widen(value).c_str());
    if (is_class(w, L"Edit")) {
      SendMessageW(w, EM_SETSEL, 0, 0);  // show the start of a long path
      SendMessageW(w, EM_SCROLLCARET, 0, 0);
    } else if (is_class(w, L"Static")) {
      // The window follows its text; paint now, since progress texts are
      // written between blocking steps.
      for (const Created& c : controls_)
        if (c.hwnd == w) fit_static(c);
      if (IsWindowVisible(w)) {
        RedrawWindow(GetParent(w), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
      }
    }
  });
}

void Win32Window::set_title(const std::string& title) {
  on_gui([&] {
    if (hwnd_) SetWindowTextW(hwnd_, widen(title).c_str());
  });
}

void Win32Window::set_install_enabled(bool enabled) {
  on_gui([&] {
    install_wanted_ = enabled;
    apply_install_enabled();
  });
}

bool Win32Window::install_enabled() {
  bool enabled = false;
  on_gui([&] {
    if (HWND b = hwnd_ ? control("cb_dbsetup") : nullptr) enabled = IsWindowEnabled(b) != FALSE;
  });
  return enabled;
}

void Win32Window::focus_control(std::string_view name) {
  on_gui([&] {
    HWND w = hwnd_ ? control(name) : nullptr;
    if (!w || !IsWindowVisible(w) || !IsWindowEnabled(w)) return;
    SetFocus(w);
    if (is_class(w, L"Edit")) SendMessageW(w, EM_SETSEL, 0, -1);
    focus_asked_ = true;
  });
}

void Win32Window::set_busy(bool busy) {
  on_gui([&] {
    busy_ = busy;
    SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(busy ? 32514 : 32512)));
  });
}

void Win32Window::show_page(Page edition) {
  on_gui([&] {
    const std::string_view page = layout::page_control(edition);
    auto shown = pages_.find(page);
    if (!tab_ || shown == pages_.end()) return;
    // A tab control cannot hide a tab: it holds the one tab of the shown page.
    SendMessageW(tab_, TCM_DELETEALLITEMS, 0, 0);
    for (const layout::Page& p : layout::kPages) {
      if (page != p.name) continue;
      std::wstring caption = widen(p.caption);
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = caption.data();
      SendMessageW(tab_, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(tab_, TCM_SETCURSEL, 0, 0);
    for (const auto& [name, w] : pages_) ShowWindow(w, w == shown->second ? SW_SHOW : SW_HIDE);
  });
}

int Win32Window::message_box(const std::string& title, const std::string& text, MsgIcon icon,
                             MsgButtons buttons, int default_button) {
  int answer = 1;
  on_gui([&] {
    if (message_box_hook) {
      answer = message_box_hook(title, text, icon, buttons, default_button);
      return;
    }
    UINT type = MB_APPLMODAL;
    switch (icon) {
      case MsgIcon::Information:
        type |= MB_ICONINFORMATION;
        break;
      case MsgIcon::Question:
        type |= MB_ICONQUESTION;
        break;
      case MsgIcon::Exclamation:
        type |= MB_ICONEXCLAMATION;
        break;
      case MsgIcon::StopSign:
        type |= MB_ICONSTOP;
        break;
    }
    if (buttons == MsgButtons::YesNo) {
      type |= MB_YESNO | (default_button == kNo ? MB_DEFBUTTON2 : MB_DEFBUTTON1);
    } else {
      type |= MB_OK;
    }
    ArrowWhileModal arrow(busy_);
    const int id = MessageBoxW(hwnd_, widen(text).c_str(), widen(title).c_str(), type);
    if (buttons == MsgButtons::YesNo) answer = id == IDYES ? kYes : kNo;
  });
  return answer;
}

void Win32Window::instance_add(const std::string& entry) {
  on_gui([&] {
    HWND combo = hwnd_ ? control("ddplb_mss2000_instances") : nullptr;
    if (!combo) return;
    std::wstring label = widen(entry);
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_TEXT | CBEIF_IMAGE | CBEIF_SELECTEDIMAGE;
    item.iItem = -1;  // at the end
    item.pszText = label.data();
    item.iImage = item.iSelectedImage = 0;  // the database picture
    SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  });
}

int Win32Window::instance_count() {
  int n = 0;
  on_gui([&] {
    if (HWND combo = hwnd_ ? control("ddplb_mss2000_instances") : nullptr)
      n = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
  });
  return n;
}

void Win32Window::instance_select(int index) {
  on_gui([&] {
    HWND combo = hwnd_ ? control("ddplb_mss2000_instances") : nullptr;
    if (!combo || index < 1 || index > SendMessageW(combo, CB_GETCOUNT, 0, 0)) return;
    // CB_SETCURSEL raises no CBN_SELCHANGE: the handler does not run.
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index - 1), 0);
  });
}

std::string Win32Window::instance_text() { return text("ddplb_mss2000_instances"); }

int Win32Window::file_open_dialog(const std::string& title, const std::string& filter,
                                  std::string& docname, std::string& named) {
  int value = 0;
  on_gui([&] {
    // "Description,pattern[,Description,pattern...]" becomes the dialog's
    // NUL-separated pairs, ending in two NULs.
    std::wstring filters = widen(filter);
    std::replace(filters.begin(), filters.end(), L',', L'\0');
    filters.append(2, L'\0');
    std::wstring caption = widen(title);
    wchar_t path[4096] = {};
    wchar_t name[1024] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = 4096;
    ofn.lpstrFileTitle = name;
    ofn.nMaxFileTitle = 1024;
    ofn.lpstrTitle = caption.c_str();
    // No default extension; the current folder stays where it was.
    ofn.Flags =
        OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
    ArrowWhileModal arrow(busy_);
    if (!GetOpenFileNameW(&ofn) || path[0] == L'\0') return;
    docname = narrow(path);
    named = narrow(name);
    value = 1;
  });
  return value;
}

// The shell's folder dialog, owned by the window: only file-system folders
// can be confirmed.
std::string Win32Window::browse_for_folder(const std::string& caption) {
  std::string folder;
  on_gui([&] {
    ArrowWhileModal arrow(busy_);
    // The dialog needs COM on this thread; if it is set up already this only
    // counts a reference.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring title = widen(caption);
    BROWSEINFOW bi{};
    bi.hwndOwner = hwnd_;
    bi.lpszTitle = title.c_str();
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    if (PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&bi)) {
      // At least MAX_PATH characters; the shell writes a NUL-terminated path.
      wchar_t path[512] = {};
      if (SHGetPathFromIDListW(pidl, path)) folder = narrow(path);
      CoTaskMemFree(pidl);
    }
    if (SUCCEEDED(com)) CoUninitialize();
  });
  return folder;
}

void Win32Window::apply_progress(int percent) {
  HWND bar = hwnd_ ? control("hpb_restore") : nullptr;
  if (!bar) return;
  if (percent < 0) {
    ShowWindow(bar, SW_HIDE);
  } else {
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(std::clamp(percent, 0, 100)), 0);
    ShowWindow(bar, SW_SHOW);
  }
}

void Win32Window::set_progress(int percent) {
  if (on_gui_thread()) {
    apply_progress(percent);
  } else if (hwnd_) {
    // Never wait here: the caller may be inside a database call.
    PostMessageW(hwnd_, WM_APP, static_cast<WPARAM>(percent), 0);
  }
}

void Win32Window::run_blocking(const std::function<void()>& work) {
  if (!on_gui_thread()) {
    work();
    return;
  }
  // The call runs on a worker while this thread keeps handling paint, timer,
  // posted and sent messages, but no keyboard or mouse input.
  std::unique_ptr<void, decltype(&CloseHandle)> done(CreateEventW(nullptr, TRUE, FALSE, nullptr),
                                                     &CloseHandle);
  run_on_worker(
      work, [&] { SetEvent(done.get()); },
      [&] {
        HANDLE event = done.get();
        bool quit = false;
        int quit_code = 0;
        while (MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT) !=
               WAIT_OBJECT_0) {
          MSG msg;
          while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
              quit = true;
              quit_code = static_cast<int>(msg.wParam);
            } else if (!is_input(msg.message)) {
              TranslateMessage(&msg);
              DispatchMessageW(&msg);
            }
          }
        }
        // Progress the worker posted before it ended is shown before returning;
        // keys and clicks that came meanwhile are dropped too.
        MSG msg;
        while (hwnd_ && PeekMessageW(&msg, hwnd_, WM_APP, WM_APP, PM_REMOVE))
          DispatchMessageW(&msg);
        while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE) ||
               PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
        }
        if (quit) PostQuitMessage(quit_code);
      });
}

}  // namespace dbsetup
