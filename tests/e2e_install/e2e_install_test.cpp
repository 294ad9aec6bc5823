// The install procedure through the ODBC driver against the SQL Server
// stand-in: what the server ends up holding and the exact texts it received.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "support/install_run.h"

namespace dbsetup::testing {
namespace {

using nlohmann::json;
using Install = InstallRun;

constexpr const char* kExistenceQuery =
    "SELECT name FROM sysdatabases WHERE LOWER ( name ) = LOWER ( @P1 )";
const DbNames kTavox{"tavox", "tavox_dat", "tavox_lg"};

std::string path(const Install& in, const std::string& file) {
  return in.server.files_root() + "\\" + file;
}

// The item called `name` in one of the state's lists; null when there is none.
json find(const Install& in, const char* list, const std::string& name) {
  const json state = in.server.state();
  for (const auto& item : state[list])
    if (item.value("name", "") == name) return item;
  return json();
}
json database(const Install& in, const std::string& name) { return find(in, "databases", name); }
json login(const Install& in, const std::string& name) { return find(in, "logins", name); }

long long millis(const Install& in) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(in.elapsed).count();
}

// The database and the install login as a successful run leaves them.
void expect_installed(const Install& in, const std::string& name, const std::string& dataname,
                      const std::string& logname) {
  json db = database(in, name);
  ASSERT_TRUE(db.is_object()) << in.server.state().dump(2);
  EXPECT_EQ(db["status"], "ONLINE");
  ASSERT_EQ(db["files"].size(), 2u);
  EXPECT_EQ(db["files"][0]["type"], "D");
  EXPECT_EQ(db["files"][0]["logical"], dataname);
  EXPECT_EQ(db["files"][0]["physical"], path(in, name + "_Data.MDF"));
  EXPECT_TRUE(db["files"][0]["on_disk"].get<bool>());
  EXPECT_EQ(db["files"][1]["type"], "L");
  EXPECT_EQ(db["files"][1]["logical"], logname);
  EXPECT_EQ(db["files"][1]["physical"], path(in, name + "_Log.LDF"));

  json zq = login(in, "zq");
  ASSERT_TRUE(zq.is_object());
  EXPECT_EQ(zq["password"], "zq");
  EXPECT_EQ(zq["roles"], json({"securityadmin", "serveradmin", "sysadmin"}));
  EXPECT_EQ(zq["default_database"], name);
  EXPECT_EQ(in.server.state()["configuration"]["allow updates"]["value"].get<int>(), 0);
}

TEST(EndToEnd, FullInstall2000) {
  Install in(Edition::mss2000);
  EXPECT_EQ(in.run(), 0);
  std::cout << "[ TIMING   ] full SQL Server 2000 install: " << millis(in) << " ms\n";
  expect_installed(in, "nuvex", "nuvex_Data", "nuvex_Log");

  const std::string data = path(in, "nuvex_Data.MDF");
  const std::string log = path(in, "nuvex_Log.LDF");
  const std::vector<std::string> expected = {
      "RESTORE HEADERONLY FROM DISK = N'" + in.backup + "'",
      "RESTORE FILELISTONLY FROM DISK = N'" + in.backup + "'",
      kExistenceQuery,
      "sp_droplogin zq",
      "sp_addlogin 'zq','zq'",
      "sp_addsrvrolemember N'zq', sysadmin",
      "sp_addsrvrolemember N'zq', securityadmin",
      "sp_addsrvrolemember N'zq', serveradmin",
      "CREATE DATABASE [nuvex]  ON PRIMARY (NAME = N'nuvex_Data', FILENAME = N'" + data +
          "' , SIZE = 1, FILEGROWTH = 10%) LOG ON (NAME = N'nuvex_Log', FILENAME = N'" + log +
          "' , SIZE = 1, FILEGROWTH = 10%)",
      "exec sp_defaultdb N'zq', N'nuvex'",
      "RESTORE DATABASE [nuvex] FROM  DISK = N'" + in.backup +
          "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'nuvex_Data' "
          "TO N'" +
          data + "', MOVE N'nuvex_Log' TO N'" + log + "'",
      "sp_configure 'allow updates',1",
      "RECONFIGURE WITH OVERRIDE",
      "sp_configure 'allow updates',0",
      "RECONFIGURE WITH OVERRIDE",
  };
  EXPECT_EQ(in.server.statements(), expected);
  EXPECT_EQ(in.progress(), (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, -1}));
  EXPECT_EQ(in.ui.statuses().back(), "数据库安装成功!");
  EXPECT_FALSE(in.ui.install_enabled());
  EXPECT_FALSE(in.ui.busy());
}

TEST(EndToEnd, FullInstall7TakesTheLogicalNamesFromTheBackup) {
  Install in(Edition::mss7, {}, kTavox);
  EXPECT_EQ(in.run(), 0);
  std::cout << "[ TIMING   ] full SQL Server 7.0 install: " << millis(in) << " ms\n";
  expect_installed(in, "tavox", "tavox_dat", "tavox_lg");

  const std::string data = path(in, "tavox_Data.MDF");
  const std::string log = path(in, "tavox_Log.LDF");
  const std::vector<std::string> expected = {
      "RESTORE HEADERONLY FROM DISK = N'" + in.backup + "'",
      "RESTORE FILELISTONLY FROM DISK = N'" + in.backup + "'",
      kExistenceQuery,
      "sp_droplogin zq",
      "sp_addlogin 'zq','zq'",
      "sp_addsrvrolemember N'zq', sysadmin",
      "sp_addsrvrolemember N'zq', securityadmin",
      "sp_addsrvrolemember N'zq', serveradmin",
      "CREATE DATABASE [tavox]  ON PRIMARY (NAME = N'tavox_dat', FILENAME = N'" + data +
          "' , SIZE = 1, FILEGROWTH = 10%) LOG ON (NAME = N'tavox_lg', FILENAME = N'" + log +
          "' , SIZE = 1, FILEGROWTH = 10%)",
      "exec sp_defaultdb N'zq', N'tavox'",
      "RESTORE DATABASE [tavox] FROM  DISK = N'" + in.backup +
          "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE , MOVE N'tavox_dat' "
          "TO N'" +
          data + "', MOVE N'tavox_lg' TO N'" + log + "'",
      "sp_configure 'allow updates',1",
      "RECONFIGURE WITH OVERRIDE",
      "sp_configure 'allow updates',0",
      "RECONFIGURE WITH OVERRIDE",
  };
  EXPECT_EQ(in.server.statements(), expected);
}

TEST(EndToEnd, AnExistingDatabaseIsOverwrittenAfterYesAndKeptAfterNo) {
  {
    SCOPED_TRACE("Yes");
    Install in(Edition::mss2000, {"--database", "Nuvex"});
    EXPECT_EQ(in.run(), 0);
    EXPECT_EQ(in.count("Drop DATABASE [nuvex]"), 1u);
    expect_installed(in, "nuvex", "nuvex_Data", "nuvex_Log");
  }
  {
    SCOPED_TRACE("No");
    Install in(Edition::mss2000, {"--database", "nuvex"});
    in.ui.answer = [](const std::string&, const std::string&, int) { return kNo; };
    const json before = database(in, "nuvex");
    EXPECT_EQ(in.run(), -2);
    EXPECT_EQ(database(in, "nuvex"), before);
    EXPECT_TRUE(login(in, "zq").is_null());
    EXPECT_EQ(in.ui.statuses().back(), "取消数据库安装!");
  }
}

// A backup the check refuses leaves the server as it was: the older
// database, the logins, everything.
TEST(EndToEnd, ABackupTheCheckRefusesLeavesTheServerAsItWas) {
  struct Case {
    const char* name;
    Edition edition;
    const char* backup;     // under the stand-in's disk; empty: the usual one
    const char* dataname;   // dbinstall.ini's, 2000 only; empty: the usual one
    const char* last;       // the refusing statement
    const char* explained;  // part of the box's text
  };
  const std::vector<Case> cases = {
      {"mistyped backup path, 2000", Edition::mss2000, "/nuvx.bak", "", "RESTORE HEADERONLY",
       "RESTORE HEADERONLY is terminating abnormally."},
      {"mistyped backup path, 7.0", Edition::mss7, "/nuvx.bak", "", "RESTORE HEADERONLY",
       "nuvx.bak"},
      {"logical name not in the backup", Edition::mss2000, "", "nuvex_Dat", "RESTORE FILELISTONLY",
       "备份文件中没有逻辑文件“nuvex_Dat”"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Install in(c.edition, {"--database", "nuvex"});
    if (*c.backup) in.field("data_backupfile", in.server.files_root() + c.backup);
    if (*c.dataname) in.gs.gs_database_data = c.dataname;
    const json before = in.server.state();
    EXPECT_EQ(in.run(), -10);
    EXPECT_EQ(in.server.state(), before);
    const std::string text = in.failure_text();
    EXPECT_EQ(text.rfind("装载数据失败!\r\n\n错误信息:", 0), 0u) << text;
    EXPECT_NE(text.find(c.explained), std::string::npos) << text;
    EXPECT_EQ(in.ui.statuses().back(), "装载数据失败!");
    const auto sent = in.server.statements();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().rfind(c.last, 0), 0u) << sent.back();
    EXPECT_FALSE(in.sqlca.connected());
  }
}

TEST(EndToEnd, RestoreFailuresEndWithMinus10AndTheServersText) {
  {
    SCOPED_TRACE("failing midway");
    Install in(Edition::mss7, {"--restore-fail-at", "50"}, kTavox);
    EXPECT_EQ(in.run(), -10);
    EXPECT_EQ(in.failure_text().rfind("装载数据失败!\r\n\n错误信息:", 0), 0u);
    auto progress = in.progress();
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), -1);
    EXPECT_EQ(std::find(progress.begin(), progress.end(), 100), progress.end());
    EXPECT_FALSE(in.ui.busy());
    EXPECT_TRUE(in.ui.install_enabled());
  }
}

TEST(EndToEnd, LoginProvisioningFailures) {
  {
    SCOPED_TRACE("an administrator that may not create logins");
    Install in(Edition::mss2000, {"--login", "op:pw:dbcreator"});
    in.field("userid", "op");
    in.field("password", "pw");
    EXPECT_EQ(in.run(), -6);
    EXPECT_EQ(in.failure_text().rfind("创建新用户失败!\r\n\n错误信息:", 0), 0u);
    EXPECT_GT(in.failure_text().size(), std::string("创建新用户失败!\r\n\n错误信息:").size());
    EXPECT_TRUE(login(in, "zq").is_null());
    EXPECT_EQ(in.ui.statuses().back(), "创建新用户失败!");
  }
  {
    SCOPED_TRACE("zq with another password that cannot be dropped");
    Install in(
        Edition::mss2000,
        {"--login", "sa:SECRET:sysadmin", "--login", "zq:other", "--fail",
         "^sp_droplogin:15434:Could not drop login 'zq' as the user is currently logged in."});
    EXPECT_EQ(in.run(), -7);
    EXPECT_EQ(in.failure_text().rfind("重新登录数据库失败!\r\n\n错误信息:", 0), 0u);
    EXPECT_EQ(login(in, "zq")["password"], "other");
    EXPECT_EQ(login(in, "zq")["roles"], json({"securityadmin", "serveradmin", "sysadmin"}));
    EXPECT_EQ(in.ui.statuses().back(), "重新登录数据库失败!");
  }
}

// A refused or lost statement at every stage: tests/e2e_faults; hostile values
// in every field: tests/e2e_injection; a second run after a failure:
// tests/window (WindowEndToEnd).

TEST(EndToEnd, ALargerModelDatabaseIsMetBySizelessFiles) {
  Install in(Edition::mss2000, {"--model-size-mb", "8"});
  EXPECT_EQ(in.run(), 0);
  EXPECT_EQ(in.count("CREATE DATABASE"), 2u);
  auto statements = in.server.statements();
  auto second = std::find_if(statements.rbegin(), statements.rend(), [](const std::string& s) {
    return s.rfind("CREATE DATABASE", 0) == 0;
  });
  EXPECT_EQ(second->find("SIZE = 1"), std::string::npos);
  expect_installed(in, "nuvex", "nuvex_Data", "nuvex_Log");
  EXPECT_EQ(in.failure_text(), "");
}

}  // namespace
}  // namespace dbsetup::testing
