#pragma once

// The install procedure on a scripted server: one window with its fields
// filled for an edition, and ways to read what the run did.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/memory_ui.h"
#include "install/install.h"
#include "support/fake_platform.h"

namespace dbsetup {
namespace {

using testing::DbCall;
using testing::FakePlatform;
using Event = MemoryUi::Event;

constexpr const char* kAppName = "Marlox零售管理系统安装";

// Runs every blocking call on a worker thread, as the Qt window does, and
// checks that each run carries exactly one call on the connection.
class ThreadedUi : public MemoryUi {
 public:
  std::function<size_t()> call_count;
  int blocking_runs = 0;
  bool one_call_per_run = true;

  void run_blocking(const std::function<void()>& work) override {
    const size_t before = call_count();
    std::thread worker(work);
    worker.join();
    ++blocking_runs;
    if (call_count() != before + 1) one_call_per_run = false;
  }
};

// One window with its fields filled for an edition, on a scripted server.
struct Rig {
  explicit Rig(bool mss7) : seven(mss7) {
    ui.call_count = [this] { return fake.script->calls.size(); };
    gs.gs_appname = kAppName;
    PageFields& f = fields();
    f.database = seven ? "tavox" : "nuvex";
    f.server = "127.0.0.1,1433";
    f.login = "sa";
    f.password = "SECRET";
    f.data_folder = seven ? "C:\\MSSQL7\\Data" : "D:\\Data";
    f.backup = seven ? "C:\\MSSQL7\\Backup\\tavox.bak" : "D:\\bak\\nuvex.bak";
    if (!seven) {
      gs.gs_database_data = "nuvex_Data";
      gs.gs_database_log = "nuvex_Log";
    }
  }

  // The backup the server reads: written by this version, with these logical
  // names (2000: those of dbinstall.ini). Rules a test adds come first.
  std::string backup_version = "16.0";
  std::string backup_data = "nuvex_Data";
  std::string backup_log = "nuvex_Log";

  int run() {
    if (seven) {
      backup_data = "tavox_dat";
      backup_log = "tavox_lg";
    }
    fake.backup_holds(backup_data, backup_log, backup_version);
    events_before = ui.events().size();
    return seven ? wf_mss7_setup(ctx) : wf_mss2000_setup(ctx);
  }

  void answer_all(int answer) {
    ui.answer = [answer](const std::string&, const std::string&, int) { return answer; };
  }
  // The edition's page of the form.
  PageFields& fields() { return form.page(seven ? Page::mss7 : Page::mss2000); }

  // Makes the existence query find `name`.
  void database_found(const std::string& name) {
    fake.on("^SELECT name FROM sysdatabases", DbResult::ok(), false, name);
  }
  // The edition's data folder as the rig fills it, with its backslash.
  std::string folder() const { return seven ? "C:\\MSSQL7\\Data\\" : "D:\\Data\\"; }
  std::string db() const { return seven ? "tavox" : "nuvex"; }
  // What xp_fileexist sees at `path`.
  void path_is(const std::string& path, bool file, bool directory) {
    fake.rows("^EXEC master\\.dbo\\.xp_fileexist N'" + testing::regex_literal(path) + "'$",
              {"File Exists", "File is a Directory", "Parent Directory Exists"},
              {{file ? "1" : "0", directory ? "1" : "0", "1"}});
  }
  // The files master.dbo.sysaltfiles lists: database, path, 8 KB pages,
  // status.
  void server_files(std::vector<std::vector<std::string>> rows) {
    fake.rows("FROM master\\.dbo\\.sysaltfiles$", {"", "filename", "size", "status"},
              std::move(rows));
  }
  // The old database of the edition's name, found and listed with a 4 MB
  // data file and a 1 MB log file in the data folder.
  void old_database() {
    database_found(db());
    server_files({{db(), folder() + db() + "_Data.MDF", "512", "2"},
                  {db(), folder() + db() + "_Log.LDF", "128", "66"}});
  }
  // xp_fixeddrives: drive letter and free megabytes.
  void drives(std::vector<std::vector<std::string>> rows) {
    fake.rows("xp_fixeddrives$", {"drive", "MB free"}, std::move(rows));
  }

  // Every call as one line: logons with all their settings.
  std::vector<std::string> trace() const {
    std::vector<std::string> out;
    for (const DbCall& c : fake.script->calls) {
      if (c.kind == DbCall::Connect)
        out.push_back("CONNECT " + c.logon.driver_name + "|" + c.logon.server + "|" +
                      c.logon.database + "|" + c.logon.login + "|" + c.logon.password + "|" +
                      (c.logon.autocommit ? "autocommit" : "manual") + "|" + c.logon.parameters);
      else if (c.kind == DbCall::Disconnect)
        out.push_back("DISCONNECT");
      else if (c.kind == DbCall::Query)
        out.push_back("QUERY " + c.text + " <- " + c.param);
      else if (c.kind == DbCall::QueryRows)
        out.push_back("ROWS " + c.text);
      else
        out.push_back(c.text);
    }
    return out;
  }

  // Events of the run itself (without the fields the rig filled).
  std::vector<Event> run_events() const {
    auto all = ui.events();
    return {all.begin() + static_cast<long>(events_before), all.end()};
  }
  std::vector<int> progress() const {
    std::vector<int> out;
    for (const auto& e : run_events())
      if (e.kind == Event::Progress) out.push_back(e.number);
    return out;
  }
  std::vector<Event> boxes(MsgButtons buttons) const {
    std::vector<Event> out;
    for (const auto& e : ui.message_boxes())
      if (e.buttons == buttons) out.push_back(e);
    return out;
  }

  bool seven;
  FakePlatform fake;
  ThreadedUi ui;
  Settings gs;
  Transaction sqlca{fake.platform.make_db_client()};
  InstallForm form;
  SetupContext ctx{gs, sqlca, ui, form, fake.platform};
  size_t events_before = 0;
};

// A message box as one line: title, buttons, default button, icon and text.
std::string shown(const Event& e) {
  return e.control + (e.buttons == MsgButtons::Ok ? " [Ok " : " [YesNo ") +
         std::to_string(e.default_button) + " icon " + std::to_string(static_cast<int>(e.icon)) +
         "] " + e.value;
}
[[maybe_unused]] std::string ok_box(const std::string& text, const std::string& title = kAppName) {
  return title + " [Ok 1 icon 0] " + text;
}
const std::string kNameQuestion =
    kAppName + std::string(" [YesNo 1 icon 1] ") +
    "是否确认本次安装的数据库名称为“tavox”？\n\n系统提示：系统允许安装多个数据库，"
    "但需要和程序安装向导一致，否则可能造成数据库连接错误！";
[[maybe_unused]] std::string warning(const std::string& text) {
  return "系统严重警告 [YesNo 2 icon 2] " + text;
}
[[maybe_unused]] std::vector<std::string> boxes_shown(const Rig& rig) {
  std::vector<std::string> out;
  for (const Event& e : rig.ui.message_boxes()) out.push_back(shown(e));
  return out;
}

// Each call ran alone on a worker, and the hourglass came on first and went
// last, whatever the outcome.
[[maybe_unused]] void expect_worker_runs(const Rig& rig) {
  EXPECT_TRUE(rig.ui.one_call_per_run);
  EXPECT_EQ(static_cast<size_t>(rig.ui.blocking_runs), rig.fake.script->calls.size());
  auto events = rig.run_events();
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events.front().kind, Event::Busy);
  EXPECT_EQ(events.front().number, 1);
  EXPECT_EQ(events.back().kind, Event::Busy);
  EXPECT_EQ(events.back().number, 0);
  EXPECT_FALSE(rig.ui.busy());
}

}  // namespace
}  // namespace dbsetup
