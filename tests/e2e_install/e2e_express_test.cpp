// Today's SQL Server Express as its setup leaves it, through the ODBC driver
// and the stand-in: a Windows administrator, Windows authentication only.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_install/expected_install.h"
#include "support/install_run.h"

namespace dbsetup::testing {
namespace {

using nlohmann::json;

// SQL Server 2022 with a Windows administrator, who logs on through NTLM.
struct AdminRun : InstallRun {
  AdminRun(Page e, const std::vector<std::string>& more = {})
      : InstallRun(
            e,
            joined({"--profile", "2022", "--windows-login", "SHOP\\admin:Adm1n!:sysadmin"}, more)) {
    fields().login = "SHOP\\admin";
    fields().password = "Adm1n!";
  }
};

TEST(EndToEndExpress, AWindowsAdministratorInstalls) {
  for (Page e : {Page::mss2000, Page::mss7}) {
    SCOPED_TRACE(page_name(e));
    AdminRun in(e);
    EXPECT_EQ(in.run(), 0) << in.failure_text();
    const json logons = in.server.logons();
    ASSERT_EQ(logons.size(), 2u);
    EXPECT_EQ(logons[0]["user"], "SHOP\\admin");
    EXPECT_EQ(logons[1]["user"], "zq");
  }
}

struct ModeCase {
  const char* name;
  bool yes;
  bool restartable;  // a service to restart; without one, as for another machine
};

// Windows authentication only: with Yes, and the server here, its mode is
// switched, the service restarted (the stand-in, through the services fake)
// and the install goes on; otherwise nothing but the mode changes.
TEST(EndToEndExpress, AWindowsOnlyServerIsSwitchedToMixedMode) {
  for (const ModeCase& c : {ModeCase{"Yes, here", true, true}, ModeCase{"No", false, true},
                            ModeCase{"Yes, no service to restart", true, false}}) {
    SCOPED_TRACE(c.name);
    AdminRun in(Page::mss2000, {"--windows-auth-only"});
    in.ui.answer = [&](const std::string&, const std::string&, int) { return c.yes ? kYes : kNo; };
    FakeServices services;
    services.states = {{"MSSQLSERVER", ServiceState::Running}};
    services.on_change = [&](const std::string&, ServiceState now) {
      now == ServiceState::Stopped ? in.server.stop() : in.server.start();
    };
    if (c.restartable) in.platform.services = &services;

    const json before_databases = databases(in.server), before_logins = in.server.state()["logins"];
    const int code = in.run();
    if (c.yes && c.restartable) {
      EXPECT_EQ(code, 0) << in.failure_text();
      EXPECT_EQ(services.calls,
                (std::vector<std::string>{"stop MSSQLSERVER", "start MSSQLSERVER"}));
      expect_installed(
          in.server, Inputs{kDbName, in.server.files_root(), in.backup, "nuvex_Data", "nuvex_Log"});
      continue;
    }
    EXPECT_EQ(code, -7);
    EXPECT_EQ(in.ui.statuses().back(), "重新登录数据库失败!");
    EXPECT_TRUE(services.calls.empty());
    EXPECT_EQ(databases(in.server), before_databases);
    EXPECT_EQ(in.server.state()["logins"], before_logins);
    EXPECT_EQ(in.server.count("EXEC master.dbo.xp_instance_regwrite"), c.yes ? 1u : 0u);
    EXPECT_EQ(in.server.count("sp_droplogin"), 0u);
  }
}

}  // namespace
}  // namespace dbsetup::testing
