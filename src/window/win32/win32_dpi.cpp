#include "window/win32/win32_dpi.h"

namespace dbsetup::win32 {

namespace {

// Functions of user32 that older systems lack: looked up by name, so that the
// program still starts there ("GetDpiForWindow function", Microsoft Learn:
// minimum supported client Windows 10, version 1607).
template <class Fn>
Fn user32_function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

}  // namespace

int window_dpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = user32_function<GetDpiForWindowFn>("GetDpiForWindow");
  if (get_dpi && window) {
    // 0 only for an invalid window.
    if (const UINT dpi = get_dpi(window)) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

SIZE outer_size(HWND window, SIZE client, int dpi, int current_dpi) {
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  const DWORD ex = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = user32_function<AdjustFn>("AdjustWindowRectExForDpi");
  RECT r{0, 0, client.cx, client.cy};
  if (adjust && adjust(&r, style, FALSE, ex, static_cast<UINT>(dpi)))
    return {r.right - r.left, r.bottom - r.top};
  RECT outer{}, inner{};
  GetWindowRect(window, &outer);
  GetClientRect(window, &inner);
  const int frame_w = (outer.right - outer.left) - inner.right;
  const int frame_h = (outer.bottom - outer.top) - inner.bottom;
  return {client.cx + MulDiv(frame_w, dpi, current_dpi),
          client.cy + MulDiv(frame_h, dpi, current_dpi)};
}

}  // namespace dbsetup::win32
