#include <filesystem>
#include <regex>

#include "e2e_install/expected_install.h"
#include "install/install_rig.h"
#include "support/temp_files.h"

namespace dbsetup {
namespace {

using ::testing::Contains;
using ::testing::StartsWith;

// The calls of a whole install on a server that answers every check, as the
// 2000 edition on D:\Data sends them (fresh) and as the 7.0 edition on
// C:\MSSQL7\Data sends them over an existing database: the statements the
// server must receive, with the administrator's logon first and the install
// login's after the last grant.
std::vector<std::string> full_install(Rig& rig, bool overwrite) {
  const bool seven = rig.seven;
  const std::string folder = rig.folder().substr(0, rig.folder().size() - 1);
  testing::Inputs in{rig.db(), folder, rig.fields().backup, rig.backup_data, rig.backup_log, seven};
  in.exists = in.targets_held = overwrite;  // the old database's own files are no strangers
  if (overwrite) in.copy = rig.folder() + rig.db() + "_20260309_180507.bak";
  const std::string password = seven ? "Zq7" : "zq";  // 2000 uses "zq" regardless
  const auto connect = [&](const std::string& logon) {
    return "CONNECT " +
           std::string(seven ? "MSS Microsoft SQL Server 6.x" : "MSS Microsoft SQL Server") +
           "|127.0.0.1,1433|master|" + logon + "|autocommit|";
  };
  std::vector<std::string> calls = {connect("sa|SECRET")};
  for (testing::Statement s : testing::expected_statements(in)) {
    if (s.shape.rfind("sp_addlogin", 0) == 0) s.values[1] = password;
    calls.push_back(fill(s) + (s.parameter ? " <- " + *s.parameter : ""));
    if (calls.back().ends_with(", serveradmin"))
      calls.insert(calls.end(), {"DISCONNECT", connect("zq|" + password)});
  }
  calls.push_back("DISCONNECT");
  return calls;
}

// The calls the fake received as the server would see them: queries' markers
// numbered as the driver numbers them.
std::vector<std::string> received(const Rig& rig) {
  std::vector<std::string> calls = rig.trace();
  for (std::string& c : calls) {
    if (c.rfind("ROWS ", 0) == 0) c.erase(0, 5);
    if (c.rfind("QUERY ", 0) == 0) c = std::regex_replace(c.substr(6), std::regex("\\?"), "@P1");
  }
  return calls;
}

TEST(Install, FullInstallSendsExactlyTheseCallsAndTexts) {
  const std::string overwrite_warning = warning(
      "数据库(DB)，已安装到此机器上，\n请确认是否继续安装，覆盖其数据？\n\n"
      "注意：此举可能造成系统原来数据物理丢失，不能恢复。请\n在确认之前和系统管理员联系！");
  for (bool seven : {false, true}) {
    for (bool overwrite : {false, true}) {
      SCOPED_TRACE(std::string(seven ? "7.0" : "2000") + (overwrite ? " overwrite" : " fresh"));
      Rig rig(seven);
      rig.gs.gs_password = "Zq7";  // 7.0 gives it to the login, 2000 uses "zq" regardless
      rig.answer_all(kYes);
      rig.path_is(rig.folder().substr(0, rig.folder().size() - 1), false, true);
      rig.drives({{"C", "100000"}, {"D", "20"}});
      if (overwrite) rig.old_database();
      // The restore's messages move the bar; one after the restore no longer does.
      rig.fake.on("^RESTORE DATABASE", DbResult::ok()).messages = {
          {3211, 10, "10 percent processed."},
          {3211, 10, "50 percent processed."},
          {4035, 10, "Processed 161 pages for database 'nuvex', file 'nuvex_Data' on file 1."},
          {3211, 10, "100 percent processed."},
      };
      rig.fake.on("^BACKUP DATABASE", DbResult::ok()).messages = {
          {3211, 10, "60 percent processed."}};
      rig.fake.on("^sp_configure 'allow updates',1", DbResult::ok()).messages = {
          {3211, 10, "20 percent processed."}};
      EXPECT_EQ(rig.run(), 0);
      EXPECT_EQ(received(rig), full_install(rig, overwrite));

      const std::string copy = rig.folder() + rig.db() + "_20260309_180507.bak";
      std::vector<std::string> statuses = {"准备连接数据库...", "数据库连接成功!"};
      if (overwrite)
        statuses.insert(statuses.end(), {"校验备份文件...", "校验备份文件完毕!", "备份旧数据库...",
                                         "备份旧数据库完毕!"});
      statuses.insert(statuses.end(), {"检测旧用户...", "检测旧用户完毕!", "创建新用户...",
                                       "创建新用户完毕!", "准备重新登录...", "重新登录成功!"});
      if (overwrite) statuses.insert(statuses.end(), {"检测旧数据...", "检测旧数据完毕!"});
      statuses.insert(statuses.end(),
                      {"开始创建数据库...", "创建数据库成功!", "更改数据库权限...", "装载数据...",
                       "装载数据成功!", "配置数据库...", "数据库安装成功!"});
      EXPECT_EQ(rig.ui.statuses(), statuses);

      std::vector<std::string> boxes;
      if (seven) boxes.push_back(kNameQuestion);
      if (overwrite) {
        std::string w = overwrite_warning;
        boxes.push_back(w.replace(w.find("DB"), 2, rig.db()));
      }
      boxes.push_back(
          ok_box(overwrite ? "数据库安装成功!\n旧数据库已备份到：" + copy : "数据库安装成功!"));
      EXPECT_EQ(boxes_shown(rig), boxes);
      EXPECT_EQ(rig.form.old_database_copy(), overwrite ? copy : "");
      // Verification, copy and restore each show the bar and hide it again.
      EXPECT_EQ(rig.progress(), overwrite ? (std::vector<int>{0, -1, 0, 60, -1, 0, 10, 50, 100, -1})
                                          : (std::vector<int>{0, 10, 50, 100, -1}));
      // The logical names the 7.0 backup holds are the ones kept.
      EXPECT_EQ(rig.gs.gs_database_data + " " + rig.gs.gs_database_log,
                seven ? "tavox_dat tavox_lg" : "nuvex_Data nuvex_Log");
      EXPECT_FALSE(rig.ui.install_enabled());
      EXPECT_FALSE(rig.sqlca.connected());  // logged off before the success box
      expect_worker_runs(rig);
    }
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
       "取消数据库安装!", "", "数据库连接成功!", "ROWS EXEC master.dbo.xp_fixeddrives"},
      {"2000 overwrite refused", false, [](Rig& r) { r.old_database(); }, -2, "取消数据库安装!", "",
       "数据库连接成功!", "ROWS EXEC master.dbo.xp_fixeddrives"},
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
            r.fake.rows("^RESTORE FILELISTONLY", {"LogicalName", "Type"}, {{"tavox_dat", "D"}});
          },
          "备份文件中没有数据文件或日志文件。", "ROWS SELECT SERVERPROPERTY"),
      backup_refused(
          "2000 log name not in the backup", false,
          [](Rig& r) { r.gs.gs_database_log = "nuvex_Log2"; },
          "备份文件中没有逻辑文件“nuvex_Log2”，"
          "备份中的逻辑文件为：“nuvex_Data”、“nuvex_Log”。",
          "ROWS SELECT SERVERPROPERTY"),
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
    std::function<void(Rig&, const std::string& folder)> arrange = nullptr;
  };
  const auto held_by = [](const char* db) {
    return [=](Rig& r, const std::string& folder) {
      r.database_found("tavox");
      r.server_files({{db, folder + "\\tavox_Data.MDF", "1", "2"}});
    };
  };
  const auto zq_refused = [](Rig& r, const std::string&) {
    r.fake.on("^CONNECT zq", DbResult::failure(18456, "Login failed for user 'zq'."));
  };
  const std::vector<Case> cases = {
      {"Yes deletes both", true, {"tavox_Data.MDF", "tavox_Log.LDF"}, true, 0, 2, false},
      {"Yes, the data file alone", true, {"tavox_Data.MDF"}, true, 0, 2, false},
      {"No by default", true, {"tavox_Data.MDF", "tavox_Log.LDF"}, false, -2, 2, true},
      {"only a log file: no question", true, {"tavox_Log.LDF"}, false, 0, 1, true},
      {"the 2000 procedure never looks", false, {"nuvex_Data.MDF"}, false, 0, 0, true},
      // The old database's own files go with its drop; the name and the
      // overwrite are all that is asked.
      {"the old database's files", true, {"tavox_Data.MDF"}, true, 0, 2, true, held_by("tavox")},
      {"another database's files", true, {"tavox_Data.MDF"}, true, -8, 1, true, held_by("shop")},
      // Agreed to, but deleted only once nothing foreseeable stands in the way.
      {"kept when zq cannot log on", true, {"tavox_Data.MDF"}, true, -7, 2, true, zq_refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    for (const auto& name : c.present) dir.write(name, "old");
    Rig rig(c.seven);
    rig.fake.platform.files = files.get();
    rig.fields().data_folder = dir.path();
    if (c.yes) rig.answer_all(kYes);
    if (c.arrange) c.arrange(rig, dir.path());
    EXPECT_EQ(rig.run(), c.code);
    for (const auto& name : c.present)
      EXPECT_EQ(std::filesystem::exists(dir.file(name)), c.kept) << name;
    auto questions = rig.boxes(MsgButtons::YesNo);
    ASSERT_EQ(questions.size(), c.questions);
    if (c.questions == 2 && !c.arrange) {  // the name, then the files
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
    const auto first = std::find(trace.begin(), trace.end(), expected.front());
    ASSERT_GE(trace.end() - first, static_cast<long>(expected.size()) + 2);
    EXPECT_EQ(std::vector<std::string>(first, first + static_cast<long>(expected.size())),
              expected);
    EXPECT_EQ(*(first + static_cast<long>(expected.size()) + 1),
              "exec sp_defaultdb N'z]''q', N'tavox'");
  }
}

TEST(Install, ValuesThatCannotWorkAreRefusedBeforeTheLogon) {
  const std::string bad_name =
      "数据库名称无效!\r\n\n错误信息:数据库名称不能为空或空白，不能是“.”或“..”，"
      "也不能含有控制字符或 \\ / : * ? \" < > | 中的任何一个。";
  const std::string long_name = "数据库名称无效!\r\n\n错误信息:数据库名称不能超过 128 个字符。";
  const std::string bad_folder =
      "数据文件目录无效!\r\n\n错误信息:数据文件目录必须是服务器上的完整路径：以盘符开头（如 "
      "D:\\Data），或是网络路径（如 \\\\服务器\\共享），Linux 服务器上以 / 开头；"
      "不能含有换行等控制字符。";
  const std::string bad_backup =
      "备份文件路径无效!\r\n\n错误信息:备份文件路径不能含有换行等控制字符。";
  struct Case {
    Field field;
    std::string value;
    const std::string& box;
  };
  std::vector<Case> cases;
  for (const std::string& name : std::vector<std::string>{
           "", "  ", ".", "..", "..\\..\\victim\\x", "a/b", "c:", "a*", "a?", "a\"b", "a<b", "a>b",
           "a|b", std::string("a\tb"), std::string("a\x01", 2)})
    cases.push_back({Field::database, name, bad_name});
  cases.push_back({Field::database, std::string(129, 'x'), long_name});
  cases.push_back({Field::database, "零" + std::string(128, 'x'), long_name});
  for (const std::string& folder :
       std::vector<std::string>{"", "Data", "\\Data", "D:", "D:Data", "\\\\server", "\\\\server\\",
                                "D:\\Da\nta", "D:\\Data\r", std::string("/var/opt\x7f")})
    cases.push_back({Field::data_folder, folder, bad_folder});
  cases.push_back({Field::backup, "D:\\bak\\a.bak\nD:\\other.bak", bad_backup});

  for (bool seven : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(seven ? "7.0 " : "2000 ") + c.value);
      Rig rig(seven);
      rig.fields()[c.field] = c.value;
      EXPECT_EQ(rig.run(), -1);
      EXPECT_EQ(rig.trace(), std::vector<std::string>{"DISCONNECT"});  // nothing sent
      EXPECT_EQ(boxes_shown(rig), std::vector<std::string>{ok_box(c.box)});
      EXPECT_EQ(rig.ui.statuses(), std::vector<std::string>{c.box.substr(0, c.box.find('\r'))});
    }
  }
  // What the server resolves alone stays its own business.
  for (const std::string folder :
       {"D:\\Data", "d:/data", "\\\\nas\\shop\\data", "/var/opt/mssql"}) {
    SCOPED_TRACE(folder);
    Rig rig(false);
    rig.form.mss2000.data_folder = folder;
    EXPECT_EQ(rig.run(), 0);
  }
}

TEST(Install, DataFolderGainsOneTrailingBackslash) {
  struct Case {
    std::string typed, kept, datafile;
  };
  const std::vector<Case> cases = {
      {"D:\\Data", "D:\\Data\\", "D:\\Data\\nuvex_Data.MDF"},
      {"D:\\Data\\", "D:\\Data\\", "D:\\Data\\nuvex_Data.MDF"},
      {"D:/data/", "D:/data/\\", "D:/data/\\nuvex_Data.MDF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    Rig rig(false);
    rig.form.mss2000.data_folder = c.typed;
    rig.fake.on("^exec sp_defaultdb", DbResult::failure(1, "stop"));  // enough for the paths
    EXPECT_EQ(rig.run(), -9);
    EXPECT_EQ(rig.form.mss2000.data_folder, c.kept);
    size_t writes = 0;
    for (const auto& e : rig.run_events())
      if (e.kind == Event::FormShown) ++writes;
    EXPECT_EQ(writes, c.typed == c.kept ? 0u : 1u);
    const std::string create =
        "CREATE DATABASE [nuvex]  ON PRIMARY (NAME = N'nuvex_Data', FILENAME = N'" + c.datafile;
    EXPECT_THAT(rig.trace(), Contains(StartsWith(create + "'")).Times(1));

    // A second run starts from the field as the first left it.
    rig.run();
    EXPECT_EQ(rig.form.mss2000.data_folder, c.kept);
  }
}

}  // namespace
}  // namespace dbsetup
