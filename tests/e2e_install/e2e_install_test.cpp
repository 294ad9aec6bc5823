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

// The kinds of server an install meets, each with a backup it can restore.
struct Server {
  const char* name;
  std::vector<std::string> args;
  const char* backup_version;  // empty: SQL Server 2000's
  int policy_error = 0;        // sp_addlogin's error for "zq" under a password policy
  bool large_model = false;    // a model database of 8 MB refuses SIZE = 1 (1803)
  bool tls = false;            // the logons arrive in TLS (SQL Server 2005 on)
  bool forced = false;         // and the whole session stays in it
};
const Server k2000{"2000", {}, ""};
const Server k2022{"2022", {"--profile", "2022"}, "16.0", 0, true, true};
const Server k2022Domain{"2022 with a domain's password policy",
                         {"--profile", "2022", "--domain-password-policy"},
                         "16.0",
                         15116,
                         true,
                         true};
const Server k2022Linux{"2022-linux", {"--profile", "2022-linux"}, "16.0", 33064, true, true};

// An install of `edition` against a fresh server of that kind; the 7.0
// edition's backup has logical names of its own, which it must take.
struct ServerRun : Install {
  ServerRun(Edition edition, const Server& s, std::vector<std::string> more = {})
      : Install(edition, with(s.args, more), names(edition)) {
    if (*s.backup_version) {
      const DbNames n = names(edition);
      backup = server.make_backup(n.db, n.data, n.log, s.backup_version);
      field("data_backupfile", backup);
    }
  }
  static DbNames names(Edition e) { return e == Edition::mss7 ? kTavox : DbNames{}; }
  static std::vector<std::string> with(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

// Every statement of a full install onto an empty server, in order.
std::vector<std::string> full_install(const Install& in, const Server& s, const DbNames& n) {
  const std::string data = path(in, n.db + "_Data.MDF");
  const std::string log = path(in, n.db + "_Log.LDF");
  std::vector<std::string> out = {
      "RESTORE HEADERONLY FROM DISK = N'" + in.backup + "'",
      "RESTORE FILELISTONLY FROM DISK = N'" + in.backup + "'",
      kExistenceQuery,
      "sp_droplogin zq",
      "sp_addlogin 'zq','zq'",
  };
  if (s.policy_error) out.push_back("CREATE LOGIN [zq] WITH PASSWORD = N'zq', CHECK_POLICY = OFF");
  for (const char* role : {"sysadmin", "securityadmin", "serveradmin"})
    out.push_back(std::string("sp_addsrvrolemember N'zq', ") + role);
  for (bool size : {true, false}) {
    if (!size && !s.large_model) break;
    const std::string sized = size ? "SIZE = 1, " : "";
    out.push_back("CREATE DATABASE [" + n.db + "]  ON PRIMARY (NAME = N'" + n.data +
                  "', FILENAME = N'" + data + "' , " + sized +
                  "FILEGROWTH = 10%) LOG ON (NAME = N'" + n.log + "', FILENAME = N'" + log +
                  "' , " + sized + "FILEGROWTH = 10%)");
  }
  out.push_back("exec sp_defaultdb N'zq', N'" + n.db + "'");
  out.push_back("RESTORE DATABASE [" + n.db + "] FROM  DISK = N'" + in.backup +
                "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  " +
                (in.seven ? "REPLACE ," : "REPLACE  ,") + " MOVE N'" + n.data + "' TO N'" + data +
                "', MOVE N'" + n.log + "' TO N'" + log + "'");
  for (const char* s6 : {"sp_configure 'allow updates',1", "RECONFIGURE WITH OVERRIDE",
                         "sp_configure 'allow updates',0", "RECONFIGURE WITH OVERRIDE"})
    out.push_back(s6);
  return out;
}

// A full install, checked on what the server holds, the statements it got
// and the logons: the administrator, then zq with its password.
void expect_full_install(ServerRun& in, const Server& s) {
  const DbNames n = ServerRun::names(in.seven ? Edition::mss7 : Edition::mss2000);
  EXPECT_EQ(in.run(), 0) << in.failure_text();
  expect_installed(in, n.db, n.data, n.log);
  EXPECT_EQ(in.server.statements(), full_install(in, s, n));
  if (s.policy_error) {
    for (const json& e : in.server.log()) {
      if (e.value("statement", "").rfind("sp_addlogin", 0) == 0) {
        EXPECT_EQ(e["outcome"]["errors"], json::array({s.policy_error}));
      }
    }
  }
  const auto logons = in.server.logons();
  ASSERT_EQ(logons.size(), 2u);
  EXPECT_EQ(logons[0]["user"], "sa");
  EXPECT_EQ(logons[1]["user"], "zq");
  for (const json& l : logons) {
    EXPECT_EQ(l["ok"], true);
    EXPECT_EQ(l["encrypted"], s.tls);
  }
  int sessions = 0;
  for (const json& e : in.server.log()) {
    if (e.value("type", "") != "tls") continue;
    ++sessions;
    EXPECT_EQ(e["login_only"], !s.forced);
  }
  EXPECT_EQ(sessions, s.tls ? 2 : 0);
  const auto progress = in.progress();
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress[progress.size() - 2], 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end() - 1));
  EXPECT_EQ(progress.back(), -1);
  EXPECT_EQ(in.ui.statuses().back(), kSuccess);
  EXPECT_EQ(in.failure_text(), "");
  EXPECT_FALSE(in.ui.install_enabled());
  EXPECT_FALSE(in.ui.busy());
}

// Each kind of server, both editions. On servers with a password policy
// sp_addlogin is refused and the login is created with the policy off; a
// model database of 8 MB makes the sized CREATE DATABASE fail once.
TEST(EndToEnd, FullInstallOnEachServer) {
  Server forced = k2022;
  forced.name = "2022 forcing encryption";
  forced.args.push_back("--force-encryption");
  forced.forced = true;
  for (const Server& s : {k2000, k2022, k2022Domain, k2022Linux, forced}) {
    for (Edition e : {Edition::mss2000, Edition::mss7}) {
      SCOPED_TRACE(std::string(s.name) + ", " + edition_name(e));
      ServerRun in(e, s);
      expect_full_install(in, s);
      std::cout << "[ TIMING   ] full install, " << edition_name(e) << " on " << s.name << ": "
                << millis(in) << " ms\n";
    }
  }
}

// A named instance, found through the SQL Server Browser on this machine.
TEST(EndToEndBrowser, FullInstallOnANamedInstance) {
  for (Edition e : {Edition::mss2000, Edition::mss7}) {
    SCOPED_TRACE(edition_name(e));
    StandinInstances machine("SHOP", k2022.args);
    ServerRun in(e, k2022);
    // The run's own server stays unused: the window points at SHOP.
    StandinServer& shop = machine.named();
    const DbNames n = ServerRun::names(e);
    in.field("servername", machine.named_address());
    in.field("data_setuppath", shop.files_root());
    in.field("data_backupfile", shop.make_backup(n.db, n.data, n.log, k2022.backup_version));
    EXPECT_EQ(in.run(), 0) << in.failure_text();
    EXPECT_TRUE(in.server.log().empty());
    EXPECT_TRUE(machine.default_instance().statements().empty());
    json db;
    const json state = shop.state();
    for (const auto& d : state["databases"])
      if (d["name"] == n.db) db = d;
    ASSERT_TRUE(db.is_object()) << state.dump(2);
    EXPECT_EQ(db["status"], "ONLINE");
    EXPECT_EQ(shop.statements().back(), "RECONFIGURE WITH OVERRIDE");
    EXPECT_EQ(shop.logons().size(), 2u);
  }
}

TEST(EndToEnd, AnExistingDatabaseIsOverwrittenAfterYesAndKeptAfterNo) {
  {
    SCOPED_TRACE("Yes");  // the server folds the case of every letter
    Install in(Edition::mss2000, {"--database", "ÄNUVEX"}, {"änuvex", "nuvex_Data", "nuvex_Log"});
    EXPECT_EQ(in.run(), 0);
    EXPECT_EQ(in.count("Drop DATABASE [änuvex]"), 1u);
    expect_installed(in, "änuvex", "nuvex_Data", "nuvex_Log");
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
  Server unreadable = k2022;
  unreadable.args.push_back("--unreadable-backups");
  Server unreadable_linux = k2022Linux;
  unreadable_linux.args.push_back("--unreadable-backups");
  Server old_backup = k2022;
  old_backup.backup_version = "8.0";
  struct Case {
    const char* name;
    const Server& server;
    Edition edition;
    const char* backup;     // under the stand-in's disk; empty: the usual one
    const char* dataname;   // dbinstall.ini's, 2000 only; empty: the usual one
    const char* last;       // the refusing statement
    const char* explained;  // part of the box's text
  };
  const char* kTooOld = "不能直接还原。请先在 SQL Server 2005 至 2008 R2 上还原该备份并重新备份。";
  const char* kDenied = "Operating system error 5(Access is denied.)";
  const std::vector<Case> cases = {
      {"mistyped backup path", k2000, Edition::mss2000, "/nuvx.bak", "", "RESTORE HEADERONLY",
       "RESTORE HEADERONLY is terminating abnormally."},
      {"mistyped backup path", k2000, Edition::mss7, "/nuvx.bak", "", "RESTORE HEADERONLY",
       "nuvx.bak"},
      {"mistyped backup path", k2022Linux, Edition::mss2000, "/nuvx.bak", "", "RESTORE HEADERONLY",
       "RESTORE HEADERONLY is terminating abnormally."},
      {"unreadable backup", unreadable, Edition::mss2000, "", "", "RESTORE HEADERONLY", kDenied},
      {"unreadable backup", unreadable_linux, Edition::mss7, "", "", "RESTORE HEADERONLY", kDenied},
      {"backup of SQL Server 2000", old_backup, Edition::mss2000, "", "", "RESTORE HEADERONLY",
       kTooOld},
      {"backup of SQL Server 2000", old_backup, Edition::mss7, "", "", "RESTORE HEADERONLY",
       kTooOld},
      {"logical name not in the backup", k2000, Edition::mss2000, "", "nuvex_Dat",
       "RESTORE FILELISTONLY", "备份文件中没有逻辑文件“nuvex_Dat”"},
      {"logical name not in the backup", k2022Domain, Edition::mss2000, "", "nuvex_Dat",
       "RESTORE FILELISTONLY", "备份文件中没有逻辑文件“nuvex_Dat”"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " on " + c.server.name + ", " + edition_name(c.edition));
    ServerRun in(c.edition, c.server, {"--database", ServerRun::names(c.edition).db});
    if (*c.backup) in.field("data_backupfile", in.server.files_root() + c.backup);
    if (*c.dataname) in.gs.gs_database_data = c.dataname;
    const json before = in.server.state();
    ASSERT_TRUE(database(in, ServerRun::names(c.edition).db).is_object());
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

TEST(EndToEnd, ARestoreFailingMidwayHidesItsProgress) {
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

// A login the server refuses to create: tests/e2e_faults.
TEST(EndToEnd, AnOlderInstallLoginThatCannotBeDroppedFailsTheRelogon) {
  Install in(Edition::mss2000,
             {"--login", "sa:SECRET:sysadmin", "--login", "zq:other", "--fail",
              "^sp_droplogin:15434:Could not drop login 'zq' as the user is currently logged in."});
  EXPECT_EQ(in.run(), -7);
  EXPECT_EQ(in.failure_text().rfind("重新登录数据库失败!\r\n\n错误信息:", 0), 0u);
  EXPECT_EQ(login(in, "zq")["password"], "other");
  EXPECT_EQ(login(in, "zq")["roles"], json({"securityadmin", "serveradmin", "sysadmin"}));
  EXPECT_EQ(in.ui.statuses().back(), "重新登录数据库失败!");
}

// A refused or lost statement at every stage: tests/e2e_faults; hostile values
// in every field: tests/e2e_injection; a second run after a failure:
// tests/window (WindowEndToEnd).

}  // namespace
}  // namespace dbsetup::testing
