// The install procedure through the ODBC driver against the SQL Server
// stand-in: what the server ends up holding and the exact texts it received.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "e2e_install/expected_install.h"
#include "support/install_run.h"

namespace dbsetup::testing {
namespace {

using nlohmann::json;
using Install = InstallRun;

const DbNames kTavox{"tavox", "tavox_dat", "tavox_lg"};

// A run's values as the server must receive them, the files in `folder`.
Inputs inputs(const Install& in, const DbNames& n, const std::string& folder) {
  return Inputs{n.db, folder, in.backup, n.data, n.log, in.seven};
}

// The kinds of server an install meets (each gets a backup it can restore).
struct Server {
  const char* name;
  std::vector<std::string> args;
  int policy_error = 0;      // sp_addlogin's error for "zq" under a password policy
  bool large_model = false;  // a model database of 8 MB refuses SIZE = 1 (1803)
  bool tls = false;          // the logons arrive in TLS (SQL Server 2005 on)
  bool forced = false;       // and the whole session stays in it
};
const Server k2000{"2000", {}};
const Server k2022{"2022", {"--profile", "2022"}, 0, true, true};
const Server k2022Domain{
    "2022, domain policy", {"--profile", "2022", "--domain-password-policy"}, 15116, true, true};
const Server k2022Linux{"2022-linux", {"--profile", "2022-linux"}, 33064, true, true};

// The names of an edition's backup: the 7.0 edition's has logical names of
// its own, which it must take.
DbNames names(Page e) { return e == Page::mss7 ? kTavox : DbNames{}; }

// A full install onto `server`: what it holds, the statements and the logons.
void expect_full_install(Install& in, const Server& s, const StandinServer& server) {
  Inputs want = inputs(in, names(in.seven ? Page::mss7 : Page::mss2000), server.files_root());
  want.policy = s.policy_error != 0;
  want.large_model = s.large_model;
  EXPECT_EQ(in.run(), 0) << in.failure_text();
  expect_installed(server, want);
  std::vector<std::string> sent;
  for (const Statement& statement : expected_statements(want)) sent.push_back(fill(statement));
  EXPECT_EQ(server.statements(), sent);
  for (const json& e : server.log()) {
    if (s.policy_error && e.value("statement", "").rfind("sp_addlogin", 0) == 0) {
      EXPECT_EQ(e["outcome"]["errors"], json::array({s.policy_error}));
    }
  }
  // The administrator's logon, then zq's: each in TLS where the server asks
  // for it, and the session after it too where it forces encryption.
  json logons = json::array(), sessions = json::array();
  for (const json& l : server.logons()) logons.push_back({l["user"], l["ok"], l["encrypted"]});
  EXPECT_EQ(logons, json({{"sa", true, s.tls}, {"zq", true, s.tls}}));
  for (const json& e : server.log())
    if (e.value("type", "") == "tls") sessions.push_back(e["login_only"]);
  EXPECT_EQ(sessions, s.tls ? json({!s.forced, !s.forced}) : json::array());
  // Newer servers report uneven steps: up from 0 to 100, then hidden.
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
    for (Page e : {Page::mss2000, Page::mss7}) {
      SCOPED_TRACE(std::string(s.name) + ", " + page_name(e));
      Install in(e, s.args, names(e));
      expect_full_install(in, s, in.server);
    }
  }
}

// A named instance beside the default one, found through the SQL Server
// Browser on this machine: the 2000 edition's window takes its address from
// the instance chosen in its list. It gets the database, the other nothing.
TEST(EndToEndBrowser, FullInstallOnANamedInstance) {
  for (Page e : {Page::mss2000, Page::mss7}) {
    SCOPED_TRACE(page_name(e));
    StandinInstances machine("SHOP", k2022.args);
    Install in(e, k2022.args, names(e));
    // The run's own server stays unused: the window points at SHOP.
    StandinServer& shop = machine.named();
    FakeRegistry registry;
    if (e == Page::mss2000) {
      const std::string sql = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server";
      registry.set_multi(sql, "InstalledInstances", {"MSSQLSERVER", "SHOP"});
      for (const std::string id : {"MSSQLSERVER", "SHOP"}) {
        registry.set_string(sql + "\\Instance Names\\SQL", id, "MSSQL16." + id);
        registry.set_string(sql + "\\MSSQL16." + id + "\\Setup", "SQLDataRoot", "C:\\" + id);
        registry.set_string(sql + "\\MSSQL16." + id + "\\MSSQLServer\\CurrentVersion",
                            "CurrentVersion", "16.0.1000.6");
      }
      in.platform.registry = &registry;
      in.form.mss2000.server = "127.0.0.1";
      in.form.is_mss2000_instance.clear();
      for (const char* entry : {"默认实例", "SHOP"}) in.ui.instance_add(entry);
      in.ui.instance_select(2);
      ddplb_mss2000_instances_selectionchanged(in.ctx, 2);
      ASSERT_EQ(in.form.mss2000.server, machine.named_address());
    } else {
      in.fields().server = machine.named_address();
    }
    const DbNames n = names(e);
    in.fields().data_folder = shop.files_root();
    in.backup = shop.make_backup(n.db, n.data, n.log, "16.0");
    in.fields().backup = in.backup;
    expect_full_install(in, k2022, shop);
    EXPECT_TRUE(in.server.log().empty());
    EXPECT_TRUE(machine.default_instance().statements().empty());
  }
}

// The server folds the case of every letter: the old database is found and
// replaced under its own spelling.
TEST(EndToEnd, AnExistingDatabaseIsOverwrittenWhateverItsLetterCase) {
  Install in(Page::mss2000, {"--database", "ÄNUVEX"}, {"änuvex", "nuvex_Data", "nuvex_Log"});
  EXPECT_EQ(in.run(), 0);
  EXPECT_EQ(in.server.count("Drop DATABASE [änuvex]"), 1u);
  expect_installed(in.server, inputs(in, {"änuvex"}, in.server.files_root()));
}

}  // namespace
}  // namespace dbsetup::testing
