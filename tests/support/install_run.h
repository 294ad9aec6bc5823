#pragma once

// One run of the install procedure of either edition against a stand-in of
// its own, through the ODBC driver, with a window that records everything.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/memory_ui.h"
#include "app/transaction.h"
#include "install/install.h"
#include "platform/platform.h"
#include "support/fake_platform.h"
#include "support/standin_process.h"

namespace dbsetup::testing {

inline constexpr const char* kAppName = "Marlox零售管理系统安装";
inline constexpr const char* kDbName = "nuvex";
inline constexpr const char* kSuccess = "数据库安装成功!";
// What a failed first logon adds under the driver's text when the server
// could not be reached.
inline constexpr const char* kUnreachableHint =
    "\n\n提示：找不到服务器或无法连接。请检查服务器地址（命名实例写作“计算机名\\实例名”），"
    "并确认 SQL Server 服务已启动、已启用 TCP/IP 协议；命名实例还需要 SQL Server Browser "
    "服务在运行。";

// Blocking calls run on a worker thread, as in the Qt window.
struct WorkerUi : MemoryUi {
  void run_blocking(const std::function<void()>& work) override { std::thread(work).join(); }
};

// The names a backup's database and its files go by.
struct DbNames {
  std::string db = kDbName;
  std::string data = "nuvex_Data";
  std::string log = "nuvex_Log";
};

// The stand-in's arguments, one list after the other.
inline std::vector<std::string> joined(std::vector<std::string> a,
                                       const std::vector<std::string>& b,
                                       const std::vector<std::string>& c = {}) {
  a.insert(a.end(), b.begin(), b.end());
  a.insert(a.end(), c.begin(), c.end());
  return a;
}

// The window of one edition with every field filled in, pointed at a fresh
// stand-in started with `server_args` and a backup it can restore: SQL Server
// 2022's where a --profile names today's server, else SQL Server 2000's.
// Every question is answered Yes.
struct InstallRun {
  InstallRun(Page edition, std::vector<std::string> server_args = {}, DbNames names = {},
             RunSettings run_settings = {})
      : seven(edition == Page::mss7), settings(std::move(run_settings)), server(server_args) {
    gs.gs_appname = kAppName;
    const bool today =
        std::find(server_args.begin(), server_args.end(), "--profile") != server_args.end();
    backup = server.make_backup(names.db, names.data, names.log, today ? "16.0" : "");
    fields().database = names.db;
    fields().server = server.address();
    fields().login = "sa";
    fields().password = "SECRET";
    fields().data_folder = server.files_root();
    fields().backup = backup;
    if (!seven) {  // the 7.0 procedure reads them from the backup
      gs.gs_database_data = names.data;
      gs.gs_database_log = names.log;
    }
    ui.answer = [](const std::string&, const std::string&, int) { return kYes; };
  }

  // The edition's page of the window's form.
  PageFields& fields() { return form.page(seven ? Page::mss7 : Page::mss2000); }

  int run() {
    const auto start = std::chrono::steady_clock::now();
    const int code = seven ? wf_mss7_setup(ctx) : wf_mss2000_setup(ctx);
    elapsed = std::chrono::steady_clock::now() - start;
    return code;
  }

  // The boxes with only an OK button, in order: failure boxes and the
  // success message (the Yes/No questions are not among them).
  std::vector<MemoryUi::Event> ok_boxes() const {
    std::vector<MemoryUi::Event> out;
    for (const auto& box : ui.message_boxes())
      if (box.buttons == MsgButtons::Ok) out.push_back(box);
    return out;
  }

  // The restore's progress as the window's bar showed it (-1: hidden).
  std::vector<int> progress() const {
    std::vector<int> out;
    for (const auto& e : ui.events())
      if (e.kind == MemoryUi::Event::Progress) out.push_back(e.number);
    return out;
  }

  // The success message's text is left out.
  std::string failure_text() const {
    for (const auto& box : ok_boxes())
      if (box.value.rfind(kSuccess, 0) != 0) return box.value;
    return {};
  }
  // Where an overwrite copies the old database `db`: the data folder, at the
  // test clock's moment.
  std::string copy_of(const std::string& db, const std::string& folder) const {
    return folder + "\\" + db + "_20260309_180507.bak";
  }

  bool seven;
  RunSettings settings;  // the timeouts and driver of the program's run
  StandinServer server;
  std::string backup;
  WorkerUi ui;
  Settings gs;
  Transaction sqlca{make_odbc_client(settings)};
  InstallForm form;
  // This system's services, but a clock that names the old database's copy
  // after a moment the test knows.
  SystemPlatform system{settings};
  FakeClock clock;
  Platform platform = [this] {
    Platform p = system.platform();
    p.clock = &clock;
    return p;
  }();
  SetupContext ctx{gs, sqlca, ui, form, platform};
  std::chrono::steady_clock::duration elapsed{};
};

}  // namespace dbsetup::testing
