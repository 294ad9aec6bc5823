// The install procedure through the ODBC driver against the SQL Server
// stand-in: what the server ends up holding and the exact texts it received.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

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
const Server k2022Domain{"2022, domain policy",
                         {"--profile", "2022", "--domain-password-policy"},
                         "16.0",
                         15116,
                         true,
                         true};
const Server k2022Linux{"2022-linux", {"--profile", "2022-linux"}, "16.0", 33064, true, true};

// An install of `edition` against a fresh server of that kind; the 7.0
// edition's backup has logical names of its own, which it must take.
struct ServerRun : Install {
  ServerRun(Page edition, const Server& s, std::vector<std::string> more = {})
      : Install(edition, with(s.args, more), names(edition)) {
    if (*s.backup_version) {
      const DbNames n = names(edition);
      backup = server.make_backup(n.db, n.data, n.log, s.backup_version);
      fields().backup = backup;
    }
  }
  static DbNames names(Page e) { return e == Page::mss7 ? kTavox : DbNames{}; }
  static std::vector<std::string> with(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

// A full install onto `server`: what it holds, the statements and the logons.
void expect_full_install(ServerRun& in, const Server& s, const StandinServer& server) {
  Inputs want =
      inputs(in, ServerRun::names(in.seven ? Page::mss7 : Page::mss2000), server.files_root());
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
      ServerRun in(e, s);
      expect_full_install(in, s, in.server);
    }
  }
}

// A named instance, found through the SQL Server Browser on this machine.
TEST(EndToEndBrowser, FullInstallOnANamedInstance) {
  for (Page e : {Page::mss2000, Page::mss7}) {
    SCOPED_TRACE(page_name(e));
    StandinInstances machine("SHOP", k2022.args);
    ServerRun in(e, k2022);
    // The run's own server stays unused: the window points at SHOP.
    StandinServer& shop = machine.named();
    const DbNames n = ServerRun::names(e);
    in.fields().server = machine.named_address();
    in.fields().data_folder = shop.files_root();
    in.backup = shop.make_backup(n.db, n.data, n.log, k2022.backup_version);
    in.fields().backup = in.backup;
    expect_full_install(in, k2022, shop);
    EXPECT_TRUE(in.server.log().empty());
    EXPECT_TRUE(machine.default_instance().statements().empty());
  }
}

TEST(EndToEnd, AnExistingDatabaseIsOverwrittenAfterYesAndKeptAfterNo) {
  {
    SCOPED_TRACE("Yes");  // the server folds the case of every letter
    Install in(Page::mss2000, {"--database", "ÄNUVEX"}, {"änuvex", "nuvex_Data", "nuvex_Log"});
    EXPECT_EQ(in.run(), 0);
    EXPECT_EQ(in.count("Drop DATABASE [änuvex]"), 1u);
    expect_installed(in.server, inputs(in, {"änuvex"}, in.server.files_root()));
  }
  {
    SCOPED_TRACE("No");
    Install in(Page::mss2000, {"--database", "nuvex"});
    in.ui.answer = [](const std::string&, const std::string&, int) { return kNo; };
    const json before = find(in.server, "databases", "nuvex");
    EXPECT_EQ(in.run(), -2);
    EXPECT_EQ(find(in.server, "databases", "nuvex"), before);
    EXPECT_TRUE(find(in.server, "logins", "zq").is_null());
    EXPECT_EQ(in.ui.statuses().back(), "取消数据库安装!");
  }
}

}  // namespace
}  // namespace dbsetup::testing
