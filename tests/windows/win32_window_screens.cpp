// Pictures of the Win32 window of each edition at the system's DPI, for a
// person to look at beside the Qt window's: written when DB_SETUP_SCREENSHOTS
// names a folder (scripts/test-windows sets it when it runs the window under
// Xvfb, once at 96 and once at 144 dpi). The window on the screen is also
// checked as laid out for that DPI, with its field labels on their fields'
// text lines.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "win32_layout_check.h"
#include "win32_window_harness.h"
// windows.h (above) first.
#include <gdiplus.h>

namespace dbsetup {
namespace {

using testing::WindowHarness;

struct Shot {
  const std::uint32_t* pixels;
  int width, height;
};

// The lowest row of `r` (client coordinates) holding dark ink; -1 if none.
int ink_bottom(const Shot& shot, RECT r) {
  for (int y = std::min<int>(r.bottom, shot.height) - 1; y >= std::max<int>(r.top, 0); --y) {
    for (int x = std::max<int>(r.left, 0); x < std::min<int>(r.right, shot.width); ++x) {
      const std::uint32_t p = shot.pixels[y * shot.width + x];
      const int r8 = (p >> 16) & 0xFF, g8 = (p >> 8) & 0xFF, b8 = p & 0xFF;
      if (r8 + g8 + b8 < 3 * 90) return y;
    }
  }
  return -1;
}

// The label's ink ends on the line where its field's text ends: the text
// of "sa" and of an address sits on the baseline, and the Chinese labels
// reach at most a pixel or two below theirs.
void expect_on_the_line(Win32Window& window, const Shot& shot, const std::string& label,
                        const std::string& field) {
  // The label's text: the box its window is cut down to.
  HWND l = window.control(label);
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  GetWindowRgn(l, region);
  RECT lr{}, format{};
  GetRgnBox(region, &lr);
  DeleteObject(region);
  const RECT lw = testing::rect_in(l, window.hwnd());
  OffsetRect(&lr, lw.left, lw.top);
  HWND f = window.control(field);
  SendMessageW(f, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
  MapWindowPoints(f, window.hwnd(), reinterpret_cast<POINT*>(&format), 2);
  const int label_ink = ink_bottom(shot, lr), field_ink = ink_bottom(shot, format);
  ASSERT_TRUE(label_ink >= 0 && field_ink >= 0) << label;
  EXPECT_LE(std::abs(label_ink - field_ink), layout::scaled(2, window.dpi()))
      << label << " ends at " << label_ink << ", " << field << " at " << field_ink;
}

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
    Win32Window& window = *h.window;
    const int dpi = window.dpi();
    testing::expect_laid_out(window, dpi);
    window.set_status("准备连接数据库...");
    SetForegroundWindow(window.hwnd());
    // Let the window reach the screen and paint.
    for (int i = 0; i < 30; ++i) {
      testing::pump();
      Sleep(20);
    }
    // The client area as shown on the screen, in a 32-bit DIB section.
    RECT client;
    GetClientRect(window.hwnd(), &client);
    const int w = client.right, ht = client.bottom;
    HDC window_dc = GetDC(window.hwnd());
    HDC mem = CreateCompatibleDC(window_dc);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -ht, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, ht, window_dc, 0, 0, SRCCOPY);
    GdiFlush();
    const Shot shot{static_cast<const std::uint32_t*>(bits), w, ht};
    std::set<std::uint32_t> colours(shot.pixels, shot.pixels + w * ht);
    EXPECT_GT(colours.size(), 50u);  // not blank
    const std::string ed = edition;
    expect_on_the_line(window, shot, ed == "mss7" ? "st_11" : "st_22", "sle_" + ed + "_userid");
    expect_on_the_line(window, shot, ed == "mss7" ? "st_10" : "st_21", "sle_" + ed + "_servername");
    SelectObject(mem, old);
    std::vector<std::string> files{std::string(dir) + "/w_createdb_win32_" + edition + "_" +
                                   std::to_string(dpi) + "dpi.png"};
    if (dpi == layout::kDesignDpi)
      files.push_back(std::string(dir) + "/w_createdb_win32_" + edition + ".png");
    Gdiplus::Bitmap picture(dib, nullptr);
    for (const std::string& file : files)
      EXPECT_EQ(picture.Save(widen(file).c_str(), &png, nullptr), Gdiplus::Ok) << file;
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(window.hwnd(), window_dc);
  }
  Gdiplus::GdiplusShutdown(gdiplus);
}

}  // namespace
}  // namespace dbsetup
