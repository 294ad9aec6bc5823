// Pictures of the Win32 window of each edition, for a person to look at
// beside the Qt window's: written when DB_SETUP_SCREENSHOTS names a folder
// (scripts/test-windows sets it when it runs the window under Xvfb).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "win32_window_harness.h"

namespace dbsetup {
namespace {

using testing::WindowHarness;

std::uint32_t crc32(const std::uint8_t* data, size_t n, std::uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void chunk(std::vector<std::uint8_t>& png, const char* type,
           const std::vector<std::uint8_t>& data) {
  put32(png, static_cast<std::uint32_t>(data.size()));
  std::vector<std::uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  put32(png, crc32(body.data(), body.size()));
}

// An RGB picture as PNG, its pixel rows in uncompressed deflate blocks.
std::vector<std::uint8_t> png_of(int w, int h, const std::vector<std::uint8_t>& rgb) {
  std::vector<std::uint8_t> raw;
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);  // no filter
    raw.insert(raw.end(), rgb.begin() + y * w * 3, rgb.begin() + (y + 1) * w * 3);
  }
  std::vector<std::uint8_t> z{0x78, 0x01};
  for (size_t at = 0; at < raw.size(); at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(static_cast<std::uint8_t>(n));
    z.push_back(static_cast<std::uint8_t>(n >> 8));
    z.push_back(static_cast<std::uint8_t>(~n));
    z.push_back(static_cast<std::uint8_t>(~n >> 8));
    z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
  }
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  put32(z, (b << 16) | a);

  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  put32(header, static_cast<std::uint32_t>(w));
  put32(header, static_cast<std::uint32_t>(h));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", z);
  chunk(png, "IEND", {});
  return png;
}

// The client area as shown on the screen, top-down RGB.
std::vector<std::uint8_t> grab(HWND hwnd, int w, int h) {
  HDC window_dc = GetDC(hwnd);
  HDC mem = CreateCompatibleDC(window_dc);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, w, h, window_dc, 0, 0, SRCCOPY);
  GdiFlush();
  const int stride = (w * 3 + 3) & ~3;
  std::vector<std::uint8_t> rgb;
  for (int y = 0; y < h; ++y) {
    const auto* row = static_cast<const std::uint8_t*>(bits) + y * stride;
    for (int x = 0; x < w; ++x) rgb.insert(rgb.end(), {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});
  }
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(hwnd, window_dc);
  return rgb;
}

TEST(Win32Screens, BothEditions) {
  const char* dir = std::getenv("DB_SETUP_SCREENSHOTS");
  if (!dir || !*dir) GTEST_SKIP() << "DB_SETUP_SCREENSHOTS is not set";
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
    const int w = layout::kClientWidth, ht = layout::kClientHeight;
    std::vector<std::uint8_t> rgb = grab(h.window->hwnd(), w, ht);
    std::set<std::uint32_t> colours;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
      colours.insert((rgb[i] << 16) | (rgb[i + 1] << 8) | rgb[i + 2]);
    EXPECT_GT(colours.size(), 50u);  // not blank
    std::vector<std::uint8_t> png = png_of(w, ht, rgb);
    const std::string file = std::string(dir) + "/w_createdb_win32_" + edition + ".png";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  }
}

}  // namespace
}  // namespace dbsetup
