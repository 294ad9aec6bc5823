#pragma once

// A Win32 window on fakes for the in-process tests: the settings, sqlca on
// the fake client, message boxes recorded and answered with their default
// button unless `answer` says otherwise.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/transaction.h"
#include "platform/codepage.h"
#include "support/fake_platform.h"
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

struct ShownBox {
  std::string title;
  std::string text;
  MsgButtons buttons;
  int default_button;
};

struct WindowHarness {
  FakePlatform fake;
  Settings gs;
  Transaction sqlca{fake.platform.make_db_client()};
  std::unique_ptr<Win32Window> window;
  std::vector<ShownBox> boxes;
  std::function<int(const ShownBox&)> answer;
  int closed = 0;

  WindowHarness() {
    window = std::make_unique<Win32Window>(gs, sqlca, fake.platform);
    window->on_closed = [this] { ++closed; };
    window->message_box_hook = [this](const std::string& title, const std::string& text, MsgIcon,
                                      MsgButtons buttons, int def) {
      boxes.push_back({title, text, buttons, def});
      if (answer) return answer(boxes.back());
      return buttons == MsgButtons::YesNo ? def : 1;
    };
  }

  HWND control(const char* name) {
    HWND w = window->control(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // Opens the window of `edition` on a machine that has that edition: SQL
  // Server 2000 with the default instance and SHOP and dbinstall.ini, or
  // SQL Server 7.0.
  void open(const std::string& edition) {
    const std::string root = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft";
    if (edition == "mss7") {
      fake.registry.set_string(root + "\\MSSQLServer\\Setup", "SQLDataRoot", "C:\\MSSQL7");
      fake.registry.set_string(root + "\\MSSQLServer\\MSSQLServer", "DefaultDomain", "WORKGROUP");
    } else {
      fake.registry.set_multi(root + "\\Microsoft SQL Server", "InstalledInstances",
                              {"MSSQLSERVER", "SHOP"});
      fake.registry.set_string(root + "\\MSSQLSERVER\\Setup", "SQLDataRoot", "D:\\MSSQL");
      fake.registry.set_string(root + "\\MSSQLSERVER\\MSSQLServer", "DefaultDomain", "WORKGROUP");
      fake.registry.set_string(root + "\\Microsoft SQL Server\\SHOP\\Setup", "SQLDataRoot",
                               "E:\\MSSQL$SHOP");
      fake.registry.set_string(root + "\\Microsoft SQL Server\\SHOP\\MSSQLServer", "DefaultDomain",
                               "WORKGROUP");
      fake.files.existing.insert("C:\\setup\\dbinstall.ini");
      fake.profile.set("C:\\setup\\dbinstall.ini", "database", "databasename", "shopdb");
      fake.profile.set("C:\\setup\\dbinstall.ini", "database", "dataname", "shop_data");
      fake.profile.set("C:\\setup\\dbinstall.ini", "database", "logname", "shop_log");
    }
    ASSERT_TRUE(window->open(edition));
    ASSERT_TRUE(boxes.empty()) << boxes.front().text;
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

  int logons() const {
    int n = 0;
    for (const auto& call : fake.script->calls) n += call.kind == DbCall::Connect;
    return n;
  }
};

}  // namespace dbsetup::testing
