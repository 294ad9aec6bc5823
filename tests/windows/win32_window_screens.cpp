// Pictures of the Win32 window of each edition, for a person to look at
// beside the Qt window's: written when DB_SETUP_SCREENSHOTS names a folder
// (scripts/test-windows sets it when it runs the window under Xvfb).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "win32_window_harness.h"
// windows.h (above) first.
#include <gdiplus.h>

namespace dbsetup {
namespace {

using testing::WindowHarness;

TEST(Win32Screens, BothEditions) {
  const char* dir = std::getenv("DB_SETUP_SCREENSHOTS");
  if (!dir || !*dir) GTEST_SKIP() << "DB_SETUP_SCREENSHOTS is not set";
  Gdiplus::GdiplusStartupInput startup;
  ULONG_PTR gdiplus = 0;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplus, &startup, nullptr), Gdiplus::Ok);
  CLSID png;  // GDI+'s PNG encoder
  CLSIDFromString(L"{557CF406-1A04-11D3-9A73-0000F81EF32E}", &png);
  for (const char* edition : {"mss2000", "mss7"}) {
    SCOPED_TRACE(edition);
    WindowHarness h;
    h.open(edition);
    h.window->set_status("准备连接数据库...");
    SetForegroundWindow(h.window->hwnd());
    // Let the window reach the screen and paint.
    for (int i = 0; i < 30; ++i) {
      testing::pump();
      Sleep(20);
    }
    // The client area as shown on the screen, in a 32-bit DIB section.
    const int w = layout::kClientWidth, ht = layout::kClientHeight;
    HDC window_dc = GetDC(h.window->hwnd());
    HDC mem = CreateCompatibleDC(window_dc);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -ht, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, ht, window_dc, 0, 0, SRCCOPY);
    GdiFlush();
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    std::set<std::uint32_t> colours(pixels, pixels + w * ht);
    EXPECT_GT(colours.size(), 50u);  // not blank
    SelectObject(mem, old);
    const std::string file = std::string(dir) + "/w_createdb_win32_" + edition + ".png";
    Gdiplus::Bitmap picture(dib, nullptr);
    EXPECT_EQ(picture.Save(widen(file).c_str(), &png, nullptr), Gdiplus::Ok) << file;
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(h.window->hwnd(), window_dc);
  }
  Gdiplus::GdiplusShutdown(gdiplus);
}

}  // namespace
}  // namespace dbsetup
