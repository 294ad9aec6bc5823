#include "install/install.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/memory_ui.h"
#include "support/fake_platform.h"
#include "support/temp_files.h"

namespace dbsetup {
namespace {

using ::testing::Contains;
using testing::DbCall;
using testing::FakePlatform;
using ::testing::StartsWith;
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
    const std::string e = seven ? "sle_mss7" : "sle_mss2000";
    ui.set_text(seven ? "sle_dbname" : "sle_dbname_2000", seven ? "tavox" : "nuvex");
    ui.set_text(e + "_servername", "127.0.0.1,1433");
    ui.set_text(e + "_userid", "sa");
    ui.set_text(e + "_password", "SECRET");
    ui.set_text(e + "data_setuppath", seven ? "C:\\MSSQL7\\Data" : "D:\\Data");
    ui.set_text(e + "data_backupfile",
                seven ? "C:\\MSSQL7\\Backup\\tavox.bak" : "D:\\bak\\nuvex.bak");
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
  // Makes the existence query find `name`.
  void database_found(const std::string& name) {
    fake.on("^SELECT name FROM sysdatabases", DbResult::ok(), false, name);
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
  WindowState state;
  SetupContext ctx{gs, sqlca, ui, state, fake.platform};
  size_t events_before = 0;
};

// A message box as one line: title, buttons, default button, icon and text.
std::string shown(const Event& e) {
  return e.control + (e.buttons == MsgButtons::Ok ? " [Ok " : " [YesNo ") +
         std::to_string(e.default_button) + " icon " + std::to_string(static_cast<int>(e.icon)) +
         "] " + e.value;
}
std::string ok_box(const std::string& text, const std::string& title = kAppName) {
  return title + " [Ok 1 icon 0] " + text;
}
std::string question(const std::string& text) { return kAppName + (" [YesNo 1 icon 1] " + text); }
const std::string kNameQuestion = question(
    "是否确认本次安装的数据库名称为“tavox”？\n\n系统提示：系统允许安装多个数据库，"
    "但需要和程序安装向导一致，否则可能造成数据库连接错误！");
std::string warning(const std::string& text) { return "系统严重警告 [YesNo 2 icon 2] " + text; }
std::vector<std::string> boxes_shown(const Rig& rig) {
  std::vector<std::string> out;
  for (const Event& e : rig.ui.message_boxes()) out.push_back(shown(e));
  return out;
}

// Each call ran alone on a worker, and the hourglass came on first and went
// last, whatever the outcome.
void expect_worker_runs(const Rig& rig) {
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

TEST(Install, FullInstallSendsExactlyTheseCallsAndTexts) {
  struct Case {
    bool seven;  // 7.0 over an existing database, answering Yes
    std::vector<std::string> calls, boxes;
  };
  const std::vector<Case> cases = {
      {false,
       {
           "CONNECT MSS Microsoft SQL Server|127.0.0.1,1433|master|sa|SECRET|autocommit|",
           "ROWS RESTORE HEADERONLY FROM DISK = N'D:\\bak\\nuvex.bak'",
           "ROWS RESTORE FILELISTONLY FROM DISK = N'D:\\bak\\nuvex.bak'",
           "QUERY SELECT name FROM sysdatabases WHERE LOWER ( name ) = LOWER ( ? ) <- nuvex",
           "sp_droplogin zq",
           "sp_addlogin 'zq','zq'",
           "sp_addsrvrolemember N'zq', sysadmin",
           "sp_addsrvrolemember N'zq', securityadmin",
           "sp_addsrvrolemember N'zq', serveradmin",
           "DISCONNECT",
           "CONNECT MSS Microsoft SQL Server|127.0.0.1,1433|master|zq|zq|autocommit|",
           "CREATE DATABASE [nuvex]  ON PRIMARY (NAME = N'nuvex_Data', FILENAME = "
           "N'D:\\Data\\nuvex_Data.MDF' , SIZE = 1, FILEGROWTH = 10%) LOG ON (NAME = "
           "N'nuvex_Log', FILENAME = N'D:\\Data\\nuvex_Log.LDF' , SIZE = 1, FILEGROWTH = 10%)",
           "exec sp_defaultdb N'zq', N'nuvex'",
           "RESTORE DATABASE [nuvex] FROM  DISK = N'D:\\bak\\nuvex.bak' WITH  FILE = 1,  NOUNLOAD "
           ",  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'nuvex_Data' TO "
           "N'D:\\Data\\nuvex_Data.MDF', MOVE N'nuvex_Log' TO N'D:\\Data\\nuvex_Log.LDF'",
           "sp_configure 'allow updates',1",
           "RECONFIGURE WITH OVERRIDE",
           "sp_configure 'allow updates',0",
           "RECONFIGURE WITH OVERRIDE",
           "DISCONNECT",
       },
       {ok_box("数据库安装成功!")}},
      {true,
       {
           "CONNECT MSS Microsoft SQL Server 6.x|127.0.0.1,1433|master|sa|SECRET|autocommit|",
           "ROWS RESTORE HEADERONLY FROM DISK = N'C:\\MSSQL7\\Backup\\tavox.bak'",
           "ROWS RESTORE FILELISTONLY FROM DISK = N'C:\\MSSQL7\\Backup\\tavox.bak'",
           "QUERY SELECT name FROM sysdatabases WHERE LOWER ( name ) = LOWER ( ? ) <- tavox",
           "Drop DATABASE [tavox]",
           "sp_droplogin zq",
           "sp_addlogin 'zq','Zq7'",
           "sp_addsrvrolemember N'zq', sysadmin",
           "sp_addsrvrolemember N'zq', securityadmin",
           "sp_addsrvrolemember N'zq', serveradmin",
           "DISCONNECT",
           "CONNECT MSS Microsoft SQL Server 6.x|127.0.0.1,1433|master|zq|Zq7|autocommit|",
           "CREATE DATABASE [tavox]  ON PRIMARY (NAME = N'tavox_dat', FILENAME = "
           "N'C:\\MSSQL7\\Data\\tavox_Data.MDF' , SIZE = 1, FILEGROWTH = 10%) LOG ON (NAME = "
           "N'tavox_lg', FILENAME = N'C:\\MSSQL7\\Data\\tavox_Log.LDF' , SIZE = 1, FILEGROWTH = "
           "10%)",
           "exec sp_defaultdb N'zq', N'tavox'",
           "RESTORE DATABASE [tavox] FROM  DISK = N'C:\\MSSQL7\\Backup\\tavox.bak' WITH  FILE = 1, "
           " NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE , MOVE N'tavox_dat' TO "
           "N'C:\\MSSQL7\\Data\\tavox_Data.MDF', MOVE N'tavox_lg' TO "
           "N'C:\\MSSQL7\\Data\\tavox_Log.LDF'",
           "sp_configure 'allow updates',1",
           "RECONFIGURE WITH OVERRIDE",
           "sp_configure 'allow updates',0",
           "RECONFIGURE WITH OVERRIDE",
           "DISCONNECT",
       },

       {kNameQuestion,
        warning(
            "数据库(tavox)，已安装到此机器上，\n请确认是否继续安装，覆盖其数据？\n\n"
            "注意：此举可能造成系统原来数据物理丢失，不能恢复。请\n在确认之前和系统管理员联系！"),
        ok_box("数据库安装成功!")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seven ? "7.0" : "2000");
    Rig rig(c.seven);
    rig.gs.gs_password = "Zq7";  // 7.0 gives it to the login, 2000 uses "zq" regardless
    if (c.seven) {
      rig.database_found("tavox");
      rig.answer_all(kYes);
    }
    // The restore's messages move the bar; one after the restore no longer does.
    rig.fake.on("^RESTORE DATABASE", DbResult::ok()).messages = {
        {3211, 10, "10 percent processed."},
        {3211, 10, "50 percent processed."},
        {4035, 10, "Processed 161 pages for database 'nuvex', file 'nuvex_Data' on file 1."},
        {3211, 10, "100 percent processed."},
    };
    rig.fake.on("^sp_configure 'allow updates',1", DbResult::ok()).messages = {
        {3211, 10, "20 percent processed."}};
    EXPECT_EQ(rig.run(), 0);
    EXPECT_EQ(rig.trace(), c.calls);
    std::vector<std::string> statuses = {
        "准备连接数据库...", "数据库连接成功!", "检测旧用户...",     "检测旧用户完毕!",
        "创建新用户...",     "创建新用户完毕!", "准备重新登录...",   "重新登录成功!",
        "开始创建数据库...", "创建数据库成功!", "更改数据库权限...", "装载数据...",
        "装载数据成功!",     "配置数据库...",   "数据库安装成功!"};
    if (c.seven) statuses.insert(statuses.begin() + 2, {"检测旧数据...", "检测旧数据完毕!"});
    EXPECT_EQ(rig.ui.statuses(), statuses);
    EXPECT_EQ(boxes_shown(rig), c.boxes);
    EXPECT_EQ(rig.progress(), (std::vector<int>{0, 10, 50, 100, -1}));
    // The logical names the 7.0 backup holds are the ones kept.
    EXPECT_EQ(rig.gs.gs_database_data + " " + rig.gs.gs_database_log,
              c.seven ? "tavox_dat tavox_lg" : "nuvex_Data nuvex_Log");
    EXPECT_FALSE(rig.ui.install_enabled());
    EXPECT_FALSE(rig.sqlca.connected());  // logged off before the success box
    expect_worker_runs(rig);
  }
}

struct FailureCase {
  const char* name;
  bool seven;
  std::function<void(Rig&)> arrange;
  int code;
  std::string status;              // the final status line, and the failure box's first line
  std::string reason;              // the rest of the failure box; empty: no failure box
  std::string shown_during;        // the status line while the box is open
  std::string last_call;           // prefix of the call before the closing logoff
  std::vector<int> progress = {};  // the bar: shown only while a restore runs
};

std::function<void(Rig&)> failing(const std::string& pattern, DbResult result) {
  return [=](Rig& r) { r.fake.on(pattern, result); };
}

// The backup is checked before anything changes on the server.
FailureCase backup_refused(const char* name, bool seven, std::function<void(Rig&)> arrange,
                           const std::string& reason,
                           const char* last_call = "ROWS RESTORE HEADERONLY") {
  return {name,     seven, std::move(arrange), -10, "装载数据失败!", reason, "数据库连接成功!",
          last_call};
}

constexpr const char* kNoAccess =
    "Cannot open backup device 'D:\\bak\\nuvex.bak'. Operating system error 5(Access is denied.).";
constexpr const char* kTooShort =
    "Password validation failed. The password does not meet the operating system policy "
    "requirements because it is too short.";
constexpr const char* kNoPermission = "User does not have permission to perform this action.";
constexpr const char* kNotALogin = "'zq' is not a valid login or you do not have permission.";

// The failure paths the fault matrix (tests/e2e_faults) does not reach, each
// also checked for the order of box and status lines, which it does not check.
TEST(Install, EveryFailureShowsItsBoxThenItsStatusThenLogsOff) {
  const DbResult too_small = DbResult::failure(
      1803, "The CREATE DATABASE statement failed. The primary file must be at least 8 MB.");
  auto create_fails = [](std::vector<DbResult> results) {
    return [=](Rig& rig) {
      for (size_t i = 0; i < results.size(); ++i)
        rig.fake.on("^CREATE DATABASE", results[i], i + 1 < results.size());
    };
  };
  const auto restore_fails_at_10 = [](Rig& r) {
    r.fake.on("^RESTORE DATABASE", DbResult::failure(3013, "terminating abnormally")).messages = {
        {3211, 10, "10 percent processed."}};
  };
  const std::string create_without_size =
      "CREATE DATABASE [nuvex]  ON PRIMARY (NAME = N'nuvex_Data', FILENAME = "
      "N'D:\\Data\\nuvex_Data.MDF' , FILEGROWTH = 10%) LOG ON (NAME = N'nuvex_Log', "
      "FILENAME = N'D:\\Data\\nuvex_Log.LDF' , FILEGROWTH = 10%)";
  const std::vector<FailureCase> cases = {
      {"7.0 overwrite refused", true, [](Rig& r) { r.database_found("tavox"); }, -2,
       "取消数据库安装!", "", "数据库连接成功!", "QUERY"},
      // 1803 is retried once without the sizes, any other error is not.
      {"2000 create, 1803 twice", false, create_fails({too_small}), -8, "创建数据库失败!",
       too_small.text, "开始创建数据库...", create_without_size},
      {"2000 create, 1803 then another error", false,
       create_fails({too_small, DbResult::failure(5173, "Files do not match.")}), -8,
       "创建数据库失败!", "Files do not match.", "开始创建数据库...", create_without_size},
      backup_refused("7.0 no backup set", true,
                     failing("^RESTORE HEADERONLY", DbResult{100, 0, ""}),
                     "备份文件中没有备份集。"),
      backup_refused(
          "2000 backup of a newer server", false,
          [](Rig& r) { r.fake.script->server_version = "15.00.2000"; },
          "备份文件由较新的 SQL Server 2022（版本 16.0） 创建，本服务器 SQL Server "
          "2019（版本 15.0） 不能还原。"),
      backup_refused(
          "7.0 backup before 2005 on 2012", true,
          [](Rig& r) {
            r.backup_version = "8.0";
            r.fake.script->server_version = "11.00.2100";
          },
          "备份文件由 SQL Server 2000（版本 8.0） 创建，本服务器 SQL Server 2012（版本 "
          "11.0） 不能直接还原。请先在 SQL Server 2005 至 2008 R2 上还原该备份并重新备份。"),
      backup_refused("7.0 file list fails", true,
                     failing("^RESTORE FILELISTONLY", DbResult::failure(3201, kNoAccess)),
                     kNoAccess, "ROWS RESTORE FILELISTONLY"),
      backup_refused(
          "7.0 file list without a log file", true,
          [](Rig& r) {
            r.fake.on("^RESTORE FILELISTONLY", DbResult::ok()).table = {
                {"LogicalName", "Type"}, {{"tavox_dat", "D"}, {"tavox_ft", "F"}}};
          },
          "备份文件中没有数据文件或日志文件。", "ROWS RESTORE FILELISTONLY"),
      backup_refused(
          "2000 log name not in the backup", false,
          [](Rig& r) { r.gs.gs_database_log = "nuvex_Log2"; },
          "备份文件中没有逻辑文件“nuvex_Log2”，"
          "备份中的逻辑文件为：“nuvex_Data”、“nuvex_Log”。",
          "ROWS RESTORE FILELISTONLY"),
      // A creation the policy refused and that failed again without it
      // explains the failed grant.
      {"2000 login refused with and without the policy", false,
       [](Rig& r) {
         r.fake.on("^sp_addlogin", DbResult::failure(15116, kTooShort));
         r.fake.on("^CREATE LOGIN", DbResult::failure(15247, kNoPermission));
         r.fake.on(", serveradmin$", DbResult::failure(15007, kNotALogin));
       },
       -6, "创建新用户失败!", std::string(kTooShort) + "\n" + kNoPermission + "\n" + kNotALogin,
       "创建新用户...", "sp_addsrvrolemember N'zq', serveradmin"},
      {"7.0 restore fails midway", true, restore_fails_at_10, -10, "装载数据失败!",
       "terminating abnormally", "装载数据...", "RESTORE DATABASE", std::vector<int>{0, 10, -1}},
  };

  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.seven);
    c.arrange(rig);
    EXPECT_EQ(rig.run(), c.code);

    auto trace = rig.trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace.back(), "DISCONNECT");
    EXPECT_EQ(trace[trace.size() - 2].rfind(c.last_call, 0), 0u) << trace[trace.size() - 2];
    EXPECT_FALSE(rig.sqlca.connected());

    // The failure box first, then the short text; until then the stage's
    // progress text stays. A bar that showed is gone before the box.
    std::vector<std::string> seen, expected = {c.shown_during, c.status};
    if (!c.reason.empty())
      expected.insert(expected.begin() + 1, ok_box(c.status + "\r\n\n错误信息:" + c.reason));
    if (!c.progress.empty()) expected.insert(expected.begin() + 1, "bar hidden");
    for (const Event& e : rig.run_events()) {
      if (e.kind == Event::Status) seen.push_back(e.value);
      if (e.kind == Event::MessageBox && e.buttons == MsgButtons::Ok) seen.push_back(shown(e));
      if (e.kind == Event::Progress && e.number == -1) seen.push_back("bar hidden");
    }
    ASSERT_GE(seen.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(seen.end() - static_cast<long>(expected.size()), seen.end()),
              expected);
    EXPECT_EQ(rig.boxes(MsgButtons::Ok).size(), c.reason.empty() ? 0u : 1u);
    EXPECT_EQ(rig.progress(), c.progress);
    EXPECT_TRUE(rig.ui.install_enabled());
    expect_worker_runs(rig);
  }
}

TEST(Install7, DecliningTheNameDoesNothingAndReturnsZero) {
  Rig rig(true);
  rig.answer_all(kNo);
  EXPECT_EQ(rig.run(), 0);
  EXPECT_TRUE(rig.fake.script->calls.empty());
  EXPECT_TRUE(rig.ui.statuses().empty());
  EXPECT_EQ(boxes_shown(rig), std::vector<std::string>{kNameQuestion});
  EXPECT_TRUE(rig.ui.install_enabled());
  expect_worker_runs(rig);
}

// The data folder's files on this machine, in a temporary folder through the
// system's file backend. Questions not answered take their default button.
TEST(Install7, LeftoverFilesAreDeletedOnlyAfterYes) {
  std::unique_ptr<FileSystem> files = make_system_files();
  struct Case {
    const char* name;
    bool seven;
    std::vector<std::string> present;
    bool yes;  // every question answered Yes
    int code;
    size_t questions;
    bool kept;  // the files are still there afterwards
  };
  const std::vector<Case> cases = {
      {"Yes deletes both", true, {"tavox_Data.MDF", "tavox_Log.LDF"}, true, 0, 2, false},
      {"Yes, the data file alone", true, {"tavox_Data.MDF"}, true, 0, 2, false},
      {"No by default", true, {"tavox_Data.MDF", "tavox_Log.LDF"}, false, -2, 2, true},
      {"only a log file: no question", true, {"tavox_Log.LDF"}, false, 0, 1, true},
      {"the 2000 procedure never looks", false, {"nuvex_Data.MDF"}, false, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    for (const auto& name : c.present) dir.write(name, "old");
    Rig rig(c.seven);
    rig.fake.platform.files = files.get();
    rig.ui.set_text(c.seven ? "sle_mss7data_setuppath" : "sle_mss2000data_setuppath", dir.path());
    if (c.yes) rig.answer_all(kYes);
    EXPECT_EQ(rig.run(), c.code);
    for (const auto& name : c.present)
      EXPECT_EQ(std::filesystem::exists(dir.file(name)), c.kept) << name;
    auto questions = rig.boxes(MsgButtons::YesNo);
    ASSERT_EQ(questions.size(), c.questions);
    if (c.questions == 2) {  // the name, then the files
      const std::string folder = dir.path() + "\\";
      EXPECT_EQ(shown(questions[1]),
                warning("系统检测到在指定的目录下已有本数据库文件存在！\r\n\n" + folder +
                        "tavox_Data.MDF\n\n警告：如果有必要，请备份目录\r\n" + folder +
                        "\r\n请确认是否继续安装，覆盖已存在的文件？\n\n注意：此举可能造成"
                        "系统原来数据物理丢失，不能恢复。请在确认之前和系统管理员联系！"));
    }
    if (c.code == -2) {
      EXPECT_EQ(rig.ui.statuses().back(), "");
    }
  }
}

// Runs the checks let through: the server decides what it alone can.
TEST(Install, WhatTheChecksLetThroughIsInstalled) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
  };
  const std::vector<Case> cases = {
      {"2000 backup on 2008 R2",
       [](Rig& r) {
         r.backup_version = "8.0";
         r.fake.script->server_version = "10.50.1600";
       }},
      {"server version unknown", [](Rig& r) { r.fake.script->server_version = ""; }},
      {"no version columns",
       [](Rig& r) {
         r.fake.on("^RESTORE HEADERONLY", DbResult::ok()).table = {{"Position"}, {{"1"}}};
       }},
      {"logical names in other letter cases",
       [](Rig& r) {
         r.gs.gs_database_data = "ÄRGER_DATA";
         r.gs.gs_database_log = "ärger_log";
         r.backup_data = "ärger_Data";
         r.backup_log = "ÄRGER_Log";
       }},
      {"dots and blanks inside the database name",
       [](Rig& r) { r.ui.set_text("sle_dbname_2000", ".a..b. 零售"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(false);
    c.arrange(rig);
    EXPECT_EQ(rig.run(), 0);
  }
}

// The injection matrix (tests/e2e_injection) varies every value but the
// install login and its password. A password the policy refuses is set again
// with the policy off.
TEST(Install, TheInstallLoginAndPasswordReachTheServerAsOneValueEach) {
  for (int refusal : {0, 15116, 33064}) {
    SCOPED_TRACE(refusal);
    Rig rig(true);
    rig.gs.gs_logid = "z]'q";
    rig.gs.gs_password = "p'w";
    if (refusal)
      rig.fake.on("^sp_addlogin", DbResult::failure(refusal, "Password validation failed."));
    EXPECT_EQ(rig.run(), 0);
    std::vector<std::string> expected = {
        "sp_droplogin [z]]'q]",
        "sp_addlogin 'z]''q','p''w'",
        "sp_addsrvrolemember N'z]''q', sysadmin",
        "sp_addsrvrolemember N'z]''q', securityadmin",
        "sp_addsrvrolemember N'z]''q', serveradmin",
        "DISCONNECT",
        "CONNECT MSS Microsoft SQL Server 6.x|127.0.0.1,1433|master|z]'q|p'w|autocommit|",
    };
    if (refusal)
      expected.insert(expected.begin() + 2,
                      "CREATE LOGIN [z]]'q] WITH PASSWORD = N'p''w', CHECK_POLICY = OFF");
    const auto trace = rig.trace();
    ASSERT_GE(trace.size(), 6 + expected.size());
    EXPECT_EQ(std::vector<std::string>(trace.begin() + 4, trace.begin() + 4 + expected.size()),
              expected);
    EXPECT_EQ(trace.at(5 + expected.size()), "exec sp_defaultdb N'z]''q', N'tavox'");
  }
}

TEST(Install, ADatabaseNameThatIsNoFileNameIsRefusedBeforeTheLogon) {
  const std::string reason =
      "数据库名称无效!\r\n\n错误信息:数据库名称不能为空或空白，不能是“.”或“..”，"
      "也不能含有控制字符或 \\ / : * ? \" < > | 中的任何一个。";
  for (bool seven : {false, true}) {
    for (const std::string& name : std::vector<std::string>{
             "", "  ", ".", "..", "..\\..\\victim\\x", "a/b", "c:", "a*", "a?", "a\"b", "a<b",
             "a>b", "a|b", std::string("a\tb"), std::string("a\x01", 2)}) {
      SCOPED_TRACE(std::string(seven ? "7.0 " : "2000 ") + name);
      Rig rig(seven);
      rig.ui.set_text(seven ? "sle_dbname" : "sle_dbname_2000", name);
      EXPECT_EQ(rig.run(), -1);
      EXPECT_EQ(rig.trace(), std::vector<std::string>{"DISCONNECT"});  // nothing sent
      EXPECT_EQ(boxes_shown(rig), std::vector<std::string>{ok_box(reason)});
      EXPECT_EQ(rig.ui.statuses(), std::vector<std::string>{"数据库名称无效!"});
    }
  }
}

TEST(Install, DataFolderGainsOneTrailingBackslash) {
  struct Case {
    std::string typed, kept, datafile;
  };
  const std::vector<Case> cases = {
      {"", "\\", "\\nuvex_Data.MDF"},
      {"D:\\Data", "D:\\Data\\", "D:\\Data\\nuvex_Data.MDF"},
      {"D:\\Data\\", "D:\\Data\\", "D:\\Data\\nuvex_Data.MDF"},
      {"D:/data/", "D:/data/\\", "D:/data/\\nuvex_Data.MDF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    Rig rig(false);
    rig.ui.set_text("sle_mss2000data_setuppath", c.typed);
    rig.fake.on("^exec sp_defaultdb", DbResult::failure(1, "stop"));  // enough for the paths
    EXPECT_EQ(rig.run(), -9);
    EXPECT_EQ(rig.ui.text("sle_mss2000data_setuppath"), c.kept);
    size_t writes = 0;
    for (const auto& e : rig.run_events())
      if (e.kind == Event::Text && e.control == "sle_mss2000data_setuppath") ++writes;
    EXPECT_EQ(writes, c.typed == c.kept ? 0u : 1u);
    const std::string create =
        "CREATE DATABASE [nuvex]  ON PRIMARY (NAME = N'nuvex_Data', FILENAME = N'" + c.datafile;
    EXPECT_THAT(rig.trace(), Contains(StartsWith(create + "'")).Times(1));

    // A second run starts from the field as the first left it.
    rig.run();
    EXPECT_EQ(rig.ui.text("sle_mss2000data_setuppath"), c.kept);
  }
}

}  // namespace
}  // namespace dbsetup
