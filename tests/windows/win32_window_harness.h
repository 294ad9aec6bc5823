#pragma once

// A Win32 window on fakes for the in-process tests: the settings, sqlca on
// the fake client, message boxes recorded and answered with their default
// button.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/transaction.h"
#include "platform/codepage.h"
#include "support/fake_machine.h"
#include "window/win32/win32_window.h"
// windows.h (above) first.
#include <commctrl.h>

namespace dbsetup::testing {

inline std::wstring class_name(HWND w) {
  wchar_t name[64] = {};
  GetClassNameW(w, name, 64);
  return name;
}

inline std::wstring window_text(HWND w) {
  wchar_t text[1024] = {};
  GetWindowTextW(w, text, 1024);
  return text;
}

inline std::vector<std::string> tab_captions(HWND tab) {
  std::vector<std::string> out;
  const int n = static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t text[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 64;
    SendMessageW(tab, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    out.push_back(narrow(text));
  }
  return out;
}

// Handles whatever is queued for this thread.
inline void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

struct WindowHarness {
  FakePlatform fake;
  Settings gs;
  Transaction sqlca;
  std::unique_ptr<Win32Window> window;
  std::vector<std::string> boxes;  // their texts
  std::function<void()> on_box;    // runs inside each box
  int closed = 0;

  // On the fakes unless another platform is given.
  explicit WindowHarness(Platform* real = nullptr)
      : sqlca((real ? *real : fake.platform).make_db_client()) {
    window = std::make_unique<Win32Window>(gs, sqlca, real ? *real : fake.platform);
    window->on_closed = [this] { ++closed; };
    window->message_box_hook = [this](const std::string&, const std::string& text, MsgIcon,
                                      MsgButtons buttons, int def) {
      boxes.push_back(text);
      if (on_box) on_box();
      return buttons == MsgButtons::YesNo ? def : 1;
    };
  }

  HWND control(const char* name) {
    HWND w = window->control(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // Opens the window of `edition` on a machine that has it.
  void open(const std::string& edition) {
    fake_machine(fake, edition);
    ASSERT_TRUE(window->open(edition));
    ASSERT_TRUE(boxes.empty()) << boxes.front();
    window->show();
    pump();
  }

  // A key pressed on `target` as the message loop sees it.
  void key(HWND target, WPARAM vk) {
    MSG msg{target, WM_KEYDOWN, vk, 1, GetTickCount(), {}};
    if (!window->pre_translate(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    pump();
  }
};

}  // namespace dbsetup::testing
