// The Win32 window end to end on the real platform, run under Wine by
// wine_cli_test.cpp (which prepares the machine and checks the server) when
// DB_SETUP_E2E_SERVER is set. It presses Enter and prints what the operator
// saw: STATUS: <status line>, BOX: <each message box>, TICKS: <ticks of a
// 20 ms timer> in <their span, ms>, GAP: <longest pause, ms> at <status
// then>, PROGRESS: <the restore bar's values>, BUTTON: <"greyed" when the
// install button was disabled at every tick of the install, else "enabled">.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "win32_window_harness.h"

namespace dbsetup {
namespace {

// An environment value in UTF-8 (read wide: the ANSI code page may not hold it).
std::string env(const char* name) {
  const wchar_t* value = _wgetenv(widen(name).c_str());
  return value ? narrow(value) : "";
}

// What the window's thread sees while the procedure runs.
struct Watch {
  Win32Window* window = nullptr;
  DWORD first = 0;
  DWORD last = 0;
  int ticks = 0;
  DWORD longest = 0;
  std::string longest_at;  // the status line when the longest pause ended
  std::vector<int> progress;
  bool poked = false;
  bool button_enabled = false;  // at any tick
};
Watch g_watch;

void CALLBACK on_tick(HWND, UINT, UINT_PTR, DWORD) {
  Watch& w = g_watch;
  if (!w.window || !w.window->installing()) return;
  const DWORD now = GetTickCount();
  if (!w.first) w.first = now;
  ++w.ticks;
  if (w.last && now - w.last > w.longest) {
    w.longest = now - w.last;
    w.longest_at = w.window->text("st_status");
  }
  w.last = now;
  if (IsWindowEnabled(w.window->control("cb_dbsetup"))) w.button_enabled = true;
  HWND bar = w.window->control("hpb_restore");
  if (IsWindowVisible(bar)) {
    const int pos = static_cast<int>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    if (w.progress.empty() || w.progress.back() != pos) w.progress.push_back(pos);
  }
  if (!w.poked) {
    // The operator presses Esc and Enter meanwhile: the window takes neither.
    w.poked = true;
    HWND field = w.window->control("sle_mss2000_userid");
    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageW(field, WM_KEYDOWN, VK_RETURN, 1);
  }
}

TEST(Win32WindowE2E, InstallsThroughTheWindow) {
  const std::string server = env("DB_SETUP_E2E_SERVER");
  if (server.empty()) GTEST_SKIP() << "DB_SETUP_E2E_SERVER is not set";
  const std::string edition = env("DB_SETUP_E2E_EDITION");
  const std::string ed = edition == "mss7" ? "mss7" : "mss2000";

  // A program of its own: this run's settings come from its environment.
  SystemPlatform system(RunSettings::from_environment());
  testing::WindowHarness h(&system.platform());
  Win32Window& window = *h.window;
  ASSERT_TRUE(window.open(edition)) << (h.boxes.empty() ? "" : h.boxes.front());
  window.show();
  window.set_text("sle_" + ed + "_servername", server);
  window.set_text("sle_" + ed + "_password", env("DB_SETUP_E2E_PASSWORD"));
  if (!env("DB_SETUP_E2E_BACKUP").empty())
    window.set_text("sle_" + ed + "data_backupfile", env("DB_SETUP_E2E_BACKUP"));
  if (!env("DB_SETUP_E2E_DATABASE").empty())
    window.set_text("sle_dbname", env("DB_SETUP_E2E_DATABASE"));

  g_watch = Watch{};
  g_watch.window = &window;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, on_tick);
  HWND field = window.control(("sle_" + ed + "_password").c_str());
  MSG enter{field, WM_KEYDOWN, VK_RETURN, 1, GetTickCount(), {}};
  EXPECT_TRUE(window.pre_translate(enter));
  KillTimer(nullptr, timer);
  // Whatever is still queued goes through the program's own loop.
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (window.pre_translate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  std::cout << "STATUS: " << window.text("st_status") << "\n";
  for (std::string box : h.boxes) {
    std::replace(box.begin(), box.end(), '\r', ' ');  // one line per box
    std::replace(box.begin(), box.end(), '\n', ' ');
    std::cout << "BOX: " << box << "\n";
  }
  std::cout << "TICKS: " << g_watch.ticks << " in " << (g_watch.last - g_watch.first) << "\n";
  std::cout << "GAP: " << g_watch.longest << " at " << g_watch.longest_at << "\nPROGRESS:";
  for (int p : g_watch.progress) std::cout << " " << p;
  std::cout << "\nBUTTON: " << (g_watch.button_enabled ? "enabled" : "greyed") << std::endl;

  // The keys pressed during the install were not taken.
  EXPECT_FALSE(window.closed());
  EXPECT_TRUE(g_watch.poked);
  EXPECT_FALSE(window.busy());
  EXPECT_FALSE(IsWindowVisible(window.control("hpb_restore")));
  g_watch = Watch{};
}

}  // namespace
}  // namespace dbsetup
