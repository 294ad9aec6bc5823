// Today's SQL Server Express as its setup leaves it, through the ODBC driver
// and the stand-in: a Windows administrator, Windows authentication only, a
// named instance beside the default one.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/detect.h"
#include "detect/opening.h"
#include "e2e_install/expected_install.h"
#include "support/install_run.h"

namespace dbsetup::testing {
namespace {

using nlohmann::json;

constexpr const char* kAdmin = "SHOP\\admin:Adm1n!:sysadmin";

// The administrator logs on as a Windows account, through NTLM.
TEST(EndToEndExpress, AWindowsAdministratorInstalls) {
  for (Page e : {Page::mss2000, Page::mss7}) {
    SCOPED_TRACE(page_name(e));
    InstallRun in(e, {"--profile", "2022", "--windows-login", kAdmin});
    in.backup = in.server.make_backup(kDbName, "nuvex_Data", "nuvex_Log", "16.0");
    in.fields().backup = in.backup;
    in.fields().login = "SHOP\\admin";
    in.fields().password = "Adm1n!";
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
    InstallRun in(Page::mss2000,
                  {"--profile", "2022", "--windows-auth-only", "--windows-login", kAdmin});
    in.backup = in.server.make_backup(kDbName, "nuvex_Data", "nuvex_Log", "16.0");
    in.fields().backup = in.backup;
    in.fields().login = "SHOP\\admin";
    in.fields().password = "Adm1n!";
    in.ui.answer = [&](const std::string&, const std::string&, int) { return c.yes ? kYes : kNo; };
    FakeServices services;
    services.states = {{"MSSQLSERVER", ServiceState::Running}};
    services.on_change = [&](const std::string&, ServiceState now) {
      now == ServiceState::Stopped ? in.server.stop() : in.server.start();
    };
    if (c.restartable) in.platform.services = &services;

    // The databases as they stand, whether a connection is still being
    // closed or not.
    const auto databases = [&] {
      json d = in.server.state()["databases"];
      for (json& db : d) db.erase("in_use");
      return d;
    };
    const json before_databases = databases(), before_logins = in.server.state()["logins"];
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
    EXPECT_EQ(databases(), before_databases);
    EXPECT_EQ(in.server.state()["logins"], before_logins);
    EXPECT_EQ(in.count("EXEC master.dbo.xp_instance_regwrite"), c.yes ? 1u : 0u);
    EXPECT_EQ(in.count("sp_droplogin"), 0u);
  }
}

// Two instances on this machine: the one chosen in the list gets the
// database, the other nothing.
TEST(EndToEndBrowser, TheInstanceChosenInTheListIsTheOneInstalledInto) {
  StandinInstances machine("SHOP", {"--profile", "2022"});
  InstallRun in(Page::mss2000, {"--profile", "2022"});
  StandinServer& shop = machine.named();
  FakeRegistry registry;
  const std::string sql = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server";
  registry.set_multi(sql, "InstalledInstances", {"MSSQLSERVER", "SHOP"});
  for (const char* id : {"MSSQLSERVER", "SHOP"}) {
    registry.set_string(sql + "\\Instance Names\\SQL", id, std::string("MSSQL16.") + id);
    const std::string base = sql + "\\MSSQL16." + id;
    registry.set_string(base + "\\Setup", "SQLDataRoot", std::string("C:\\") + id);
    registry.set_string(base + "\\MSSQLServer\\CurrentVersion", "CurrentVersion", "16.0.1000.6");
  }
  in.platform.registry = &registry;
  in.form.mss2000.server = "127.0.0.1";
  in.form.is_mss2000_instance.clear();
  for (const char* entry : {"默认实例", "SHOP"}) in.ui.instance_add(entry);
  in.ui.instance_select(2);
  ddplb_mss2000_instances_selectionchanged(in.ctx, 2);
  ASSERT_EQ(in.form.mss2000.server, machine.named_address());
  in.fields().data_folder = shop.files_root();
  in.backup = shop.make_backup(kDbName, "nuvex_Data", "nuvex_Log", "16.0");
  in.fields().backup = in.backup;
  EXPECT_EQ(in.run(), 0) << in.failure_text();
  expect_installed(shop, Inputs{kDbName, shop.files_root(), in.backup, "nuvex_Data", "nuvex_Log"});
  EXPECT_TRUE(machine.default_instance().statements().empty());
}

}  // namespace
}  // namespace dbsetup::testing
