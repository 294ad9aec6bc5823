// What the install checks before it changes anything, and how it keeps an
// existing database safe while it replaces it.

#include <algorithm>

#include "install/install_rig.h"

namespace dbsetup {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

bool sent(const Rig& rig, const std::string& prefix) {
  const auto trace = rig.trace();
  return std::any_of(trace.begin(), trace.end(),
                     [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
}

// A 2000 install over the existing database "nuvex" on D:\Data, with every
// question answered Yes unless the case says otherwise.
struct Refusal {
  const char* name;
  std::function<void(Rig&)> arrange;
  int code;
  std::string status;
  std::string reason;     // the failure box's text after "错误信息:"; empty: no box
  std::string last_call;  // prefix of the call before the closing logoff
};

TEST(InstallChecks, EveryRefusalComesBeforeAnyChange) {
  const auto backup_type = [](const char* type) {
    return [=](Rig& r) {
      r.fake.rows("^RESTORE HEADERONLY", {"Position", "BackupType"}, {{"1", type}});
    };
  };
  const auto files = [](std::vector<std::vector<std::string>> rows) {
    return [=](Rig& r) {
      r.fake.rows("^RESTORE FILELISTONLY", {"LogicalName", "Type", "Size"}, rows);
    };
  };
  const std::vector<Refusal> cases = {
      {"differential backup", backup_type("5"), -10, "装载数据失败!",
       "备份文件中的第一个备份集是差异数据库备份，不是完整数据库备份，不能单独还原成数据库。"
       "请使用数据库的完整备份。",
       "ROWS RESTORE HEADERONLY"},
      {"log backup", backup_type("2"), -10, "装载数据失败!",
       "备份文件中的第一个备份集是事务日志备份，不是完整数据库备份，不能单独还原成数据库。"
       "请使用数据库的完整备份。",
       "ROWS RESTORE HEADERONLY"},
      {"full-text catalog",
       files({{"nuvex_Data", "D", "1"}, {"nuvex_Log", "L", "1"}, {"nuvex_ft", "F", "1"}}), -10,
       "装载数据失败!",
       "备份文件中含有全文目录“nuvex_ft”（类型 F），本程序只能还原数据文件和日志文件。",
       "ROWS SELECT SERVERPROPERTY"},
      {"further file named unlike a file",
       files({{"nuvex_Data", "D", "1"}, {"nuvex_Log", "L", "1"}, {"a:b", "D", "1"}}), -10,
       "装载数据失败!",
       "备份文件中的逻辑文件名“a:b”含有不能用于文件名的字符，本程序不能为它指定还原位置。",
       "ROWS SELECT SERVERPROPERTY"},
      {"logical name in another case on a case-sensitive server",
       [](Rig& r) {
         r.gs.gs_database_data = "NUVEX_DATA";
         r.fake.rows("^SELECT SERVERPROPERTY\\('Collation'\\)", {""}, {{"Latin1_General_CS_AS"}});
       },
       -10, "装载数据失败!",
       "备份文件中没有逻辑文件“NUVEX_DATA”，备份中的逻辑文件为：“nuvex_Data”、“nuvex_Log”。",
       "ROWS SELECT SERVERPROPERTY"},
      {"administrator not a sysadmin",
       [](Rig& r) { r.fake.rows("IS_SRVROLEMEMBER", {""}, {{"0"}}); }, -6, "创建新用户失败!",
       "登录名“sa”不是固定服务器角色 sysadmin 的成员，不能创建本系统的登录名并授予其服务器角色。"
       "请使用 sysadmin 角色的登录名（如 sa）安装。",
       "ROWS SELECT IS_SRVROLEMEMBER"},
      {"data folder is a file", [](Rig& r) { r.path_is("D:\\Data", true, false); }, -8,
       "创建数据库失败!", "数据文件目录“D:\\Data”在服务器上是一个文件，不是目录。",
       "ROWS EXEC master.dbo.xp_fileexist N'D:\\Data'"},
      {"missing data folder that cannot be created",
       [](Rig& r) {
         r.path_is("D:\\Data", false, false);
         r.fake.on("xp_create_subdir", DbResult::failure(22048,
                                                         "Error executing extended "
                                                         "stored procedure."));
       },
       -8, "创建数据库失败!",
       "不能在服务器上创建数据文件目录“D:\\Data”：\nError executing extended stored procedure.",
       "EXEC master.dbo.xp_create_subdir N'D:\\Data'"},
      {"target file of another database",
       [](Rig& r) {
         r.database_found("nuvex");
         r.server_files({{"nuvex", "D:\\Data\\nuvex_Data.MDF", "1", "2"},
                         {"shop", " d:/data/NUVEX_Log.ldf  ", "1", "66"}});
       },
       -8, "创建数据库失败!",
       "文件“D:\\Data\\nuvex_Log.LDF”已被数据库“shop”使用。请选择其他数据文件目录或数据库名称。",
       "ROWS SELECT DB_NAME(dbid)"},
      {"target file left by a detached database",
       [](Rig& r) { r.path_is("D:\\Data\\nuvex_Log.LDF", true, false); }, -8, "创建数据库失败!",
       "服务器上已有文件“D:\\Data\\nuvex_Log.LDF”，它不属于任何数据库（可能是已分离的数据库留下的）"
       "。请先移走该文件，或选择其他数据文件目录。",
       "ROWS EXEC master.dbo.xp_fileexist N'D:\\Data\\nuvex_Log.LDF'"},
      {"too little room for the new files",
       [](Rig& r) {
         r.drives({{"C", "900"}, {"D", "2"}});
       },
       -10, "装载数据失败!",
       "服务器驱动器 D: 的可用空间不足：安装需要约 3 MB，只有 2 MB 可用。请释放磁盘空间，"
       "或选择其他数据文件目录。",
       "ROWS EXEC master.dbo.xp_fixeddrives"},
      {"no room for the copy, overwrite without it declined",
       [](Rig& r) {
         r.old_database();
         r.drives({{"D", "3"}});
         // Yes to the overwrite warning, No to going on without a copy.
         r.ui.answer = [n = 0](const std::string&, const std::string&, int) mutable {
           return ++n == 1 ? kYes : kNo;
         };
       },
       -2, "取消数据库安装!", "", "ROWS EXEC master.dbo.xp_fixeddrives"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(false);
    rig.answer_all(kYes);
    c.arrange(rig);
    EXPECT_EQ(rig.run(), c.code);
    const auto trace = rig.trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace.back(), "DISCONNECT");
    EXPECT_THAT(trace[trace.size() - 2], StartsWith(c.last_call));
    EXPECT_EQ(rig.ui.statuses().back(), c.status);
    std::vector<std::string> failures;
    for (const Event& e : rig.boxes(MsgButtons::Ok)) failures.push_back(shown(e));
    EXPECT_EQ(failures, c.reason.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{
                                               ok_box(c.status + "\r\n\n错误信息:" + c.reason)});
    // Nothing was dropped, nothing created: the old database stands.
    EXPECT_FALSE(sent(rig, "Drop DATABASE"));
    EXPECT_FALSE(sent(rig, "CREATE DATABASE"));
    EXPECT_TRUE(rig.ui.install_enabled());
  }
}

// Questions whose Yes lets the install go on, answers a check cannot use, and
// what the server alone decides: each is installed.
TEST(InstallChecks, WhatTheChecksLetThrough) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
    std::vector<std::string> sent = {}, not_sent = {};  // prefixes of calls
    std::string status = "";                            // a status line shown on the way
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
       [](Rig& r) { r.form.mss2000.database = ".a..b. 零售"; }},
      {"overwrite without a copy when it cannot fit",
       [](Rig& r) {
         r.old_database();
         r.drives({{"D", "3"}});
       },
       {"RESTORE VERIFYONLY", "Drop DATABASE"},
       {"BACKUP DATABASE"}},
      {"old database left restoring: no copy to take",
       [](Rig& r) {
         r.old_database();
         r.fake.on("^BACKUP DATABASE", DbResult::failure(927, "in the middle of a restore"));
       },
       {"BACKUP DATABASE", "Drop DATABASE"},
       {},
       "旧数据库处于未完成的还原状态，没有可备份的数据，不备份直接覆盖。"},
      {"SQL Server 2000 verifies without STATS",
       [](Rig& r) {
         r.old_database();
         r.fake.script->server_version = "08.00.2039";
         r.backup_version = "8.0";
       },
       {"=RESTORE VERIFYONLY FROM DISK = N'D:\\bak\\nuvex.bak' WITH FILE = 1"}},
      {"checks the server cannot answer are skipped",
       [](Rig& r) {
         r.database_found("nuvex");
         for (const char* what : {"xp_fileexist", "sysaltfiles", "xp_fixeddrives",
                                  "IS_SRVROLEMEMBER", "SERVERPROPERTY"})
           r.fake.on(what, DbResult::failure(2812, "Could not find stored procedure."));
       },
       {"Drop DATABASE"},
       {"EXEC master.dbo.xp_create_subdir"}},
      {"the copy never lands on the backup restored",
       [](Rig& r) {
         r.old_database();
         r.fields().backup = "d:\\data\\NUVEX_20260309_180507.bak";
       },
       {"BACKUP DATABASE [nuvex] TO DISK = N'D:\\Data\\nuvex_20260309_180507_2.bak'"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(false);
    rig.answer_all(kYes);
    c.arrange(rig);
    EXPECT_EQ(rig.run(), 0);
    const auto trace = rig.trace();
    for (const std::string& prefix : c.sent) {
      // "=" in front stands for the whole call.
      if (prefix.rfind('=', 0) == 0)
        EXPECT_THAT(trace, Contains(prefix.substr(1)));
      else
        EXPECT_TRUE(sent(rig, prefix)) << prefix;
    }
    for (const std::string& prefix : c.not_sent) EXPECT_FALSE(sent(rig, prefix)) << prefix;
    if (!c.status.empty()) {
      EXPECT_THAT(rig.ui.statuses(), Contains(c.status));
    }
  }
}

// Every file of the backup lands in the data folder, named after the
// database and its logical name, and counts for the room it needs.
TEST(InstallChecks, FurtherFilesOfTheBackupGoToTheDataFolder) {
  for (const char* free_mb : {"5", "6"}) {  // 6 MB to restore
    SCOPED_TRACE(free_mb);
    Rig rig(false);
    rig.fake.rows("^RESTORE FILELISTONLY", {"LogicalName", "Type", "Size"},
                  {{"nuvex_Data", "D", "1048576"},
                   {"nuvex_Index", "D", "3145728"},
                   {"nuvex_Log", "L", "1048576"},
                   {"nuvex_Log2", "L", "1048576"}});
    rig.drives({{"D", free_mb}});
    EXPECT_EQ(rig.run(), free_mb == std::string("5") ? -10 : 0);
    const auto trace = rig.trace();
    for (const char* file : {"D:\\Data\\nuvex_nuvex_Index.NDF", "D:\\Data\\nuvex_nuvex_Log2.LDF"})
      EXPECT_THAT(trace,
                  Contains("ROWS EXEC master.dbo.xp_fileexist N'" + std::string(file) + "'"));
    if (free_mb == std::string("6")) {
      EXPECT_THAT(trace, Contains(HasSubstr("MOVE N'nuvex_Log' TO N'D:\\Data\\nuvex_Log.LDF', "
                                            "MOVE N'nuvex_Index' TO N'D:\\Data\\nuvex_nuvex_"
                                            "Index.NDF', MOVE N'nuvex_Log2' TO N'D:\\Data\\"
                                            "nuvex_nuvex_Log2.LDF'")));
    }
  }
}

}  // namespace
}  // namespace dbsetup
