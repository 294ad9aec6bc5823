// The first logon on today's servers: the reason a refused one shows, a local
// server that is stopped or not on TCP, and a server that lets only Windows
// logins in.

#include "install/install_rig.h"

namespace dbsetup {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kVersioned =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server\\MSSQL16.SHOP\\MSSQLServer\\"
    "SuperSocketNetLib\\Tcp";

std::vector<std::string> logons(const Rig& rig) {
  std::vector<std::string> out;
  for (const DbCall& c : rig.fake.script->calls)
    if (c.kind == DbCall::Connect) out.push_back(c.logon.login + "@" + c.logon.server);
  return out;
}

const DbResult kUnreachable = [] {
  DbResult r = DbResult::failure(0, "Unable to connect: Adaptive Server is unavailable");
  r.unreachable = true;
  return r;
}();

TEST(InstallLogon, AFailedFirstLogonShowsItsReasonAndAHintInBothEditions) {
  struct Case {
    DbResult result;
    std::string hint;  // the start of what follows the driver's text
  };
  const std::vector<Case> cases = {
      {DbResult::failure(18456, "Login failed for user 'sa'."),
       "\n\n提示：登录名或密码不正确，或该登录名（如 sa）已被禁用"},
      {DbResult::failure(18452, "Login failed. The login is from an untrusted domain."),
       "\n\n提示：登录名或密码不正确"},
      {DbResult::failure(0,
                         "SSL Provider: The certificate chain was issued by an authority "
                         "that is not trusted."),
       "\n\n提示：服务器拒绝了加密连接"},
      {kUnreachable, "\n\n提示：找不到服务器或无法连接。"},
      {DbResult::failure(4060, "Cannot open database \"master\"."), ""},
  };
  for (bool seven : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.result.text);
      Rig rig(seven);
      rig.answer_all(kYes);
      rig.fake.on("^CONNECT sa ", c.result);
      EXPECT_EQ(rig.run(), -1);
      const auto failures = rig.boxes(MsgButtons::Ok);
      ASSERT_EQ(failures.size(), 1u);
      EXPECT_THAT(failures[0].value,
                  StartsWith("连接数据库失败!\r\n\n错误信息:" + c.result.text + c.hint));
      if (c.hint.empty()) {
        EXPECT_EQ(failures[0].value.find("提示"), std::string::npos);
      }
      EXPECT_EQ(rig.ui.statuses().back(), "连接数据库失败!");
      EXPECT_EQ(rig.fields().password, "SECRET");
      // The focus goes to the password, whose text is selected.
      EXPECT_EQ(rig.run_events().back().kind, Event::Busy);
      bool focused = false;
      for (const Event& e : rig.run_events())
        focused = focused || (e.kind == Event::Focus &&
                              e.control == std::string(seven ? "mss7" : "mss2000") + " 3");
      EXPECT_TRUE(focused);
    }
  }
}

// Each way around is tried once, and only where it can help.
TEST(InstallLogon, ALocalServerThatCannotBeReachedIsHelpedOnceEachWay) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;
    std::vector<std::string> logons;
    int code;
    std::vector<std::string> services = {};  // the service calls
  };
  const auto stopped = [](Rig& r) { r.fake.services.states["MSSQL$SHOP"] = ServiceState::Stopped; };
  const std::vector<Case> cases = {
      {"stopped service started on Yes",
       [&](Rig& r) {
         stopped(r);
         r.fake.on("^CONNECT sa ", kUnreachable, true);
       },
       {"sa@127.0.0.1\\SHOP", "sa@127.0.0.1\\SHOP", "zq@127.0.0.1\\SHOP"},
       0,
       {"start MSSQL$SHOP"}},
      {"stopped service left alone on No",
       [&](Rig& r) {
         stopped(r);
         r.answer_all(kNo);
         r.fake.on("^CONNECT sa ", kUnreachable);
       },
       {"sa@127.0.0.1\\SHOP"},
       -1},
      {"TCP/IP off: shared memory",
       [](Rig& r) {
         r.fake.registry.set_dword(kVersioned, "Enabled", 0);
         r.fake.script->shared_memory = true;
         r.fake.on("^CONNECT sa @127", kUnreachable);
       },
       {"sa@127.0.0.1\\SHOP", "sa@lpc:(local)\\SHOP", "zq@lpc:(local)\\SHOP"},
       0},
      {"TCP/IP off, a driver without shared memory",
       [](Rig& r) {
         r.fake.registry.set_dword(kVersioned, "Enabled", 0);
         r.fake.on("^CONNECT sa ", kUnreachable);
       },
       {"sa@127.0.0.1\\SHOP"},
       -1},
      {"no Browser: the registry's port",
       [](Rig& r) {
         r.fake.registry.set_string(std::string(kVersioned) + "\\IPAll", "TcpPort", "");
         r.fake.registry.set_string(std::string(kVersioned) + "\\IPAll", "TcpDynamicPorts",
                                    "50123");
         r.fake.on("^CONNECT sa @127.0.0.1\\\\SHOP", kUnreachable);
       },
       {"sa@127.0.0.1\\SHOP", "sa@127.0.0.1,50123", "zq@127.0.0.1,50123"},
       0},
      {"a refused logon is no reachability problem",
       [](Rig& r) {
         r.fake.registry.set_string(std::string(kVersioned) + "\\IPAll", "TcpPort", "1500");
         r.fake.on("^CONNECT sa ", DbResult::failure(18456, "Login failed for user 'sa'."));
       },
       {"sa@127.0.0.1\\SHOP"},
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(false);
    // The named instance SHOP on this machine, as SQL Server 2022's registry
    // describes it.
    rig.form.mss2000.server = "127.0.0.1\\SHOP";
    rig.fake.registry.set_string(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL",
        "SHOP", "MSSQL16.SHOP");
    rig.answer_all(kYes);
    rig.fake.services.states.emplace("MSSQL$SHOP", ServiceState::Running);
    c.arrange(rig);
    EXPECT_EQ(rig.run(), c.code);
    EXPECT_EQ(logons(rig), c.logons);
    EXPECT_EQ(rig.fake.services.calls, c.services);
  }
  // A server on another machine is the operator's to look after.
  Rig remote(false);
  remote.form.mss2000.server = "shopserver\\SHOP";
  remote.fake.services.states["MSSQL$SHOP"] = ServiceState::Stopped;
  remote.fake.on("^CONNECT sa ", kUnreachable);
  EXPECT_EQ(remote.run(), -1);
  EXPECT_TRUE(remote.fake.services.calls.empty());
}

// Windows logins only until the service starts again: the mode is switched
// only on Yes, and the service restarted only where it runs on this machine.
TEST(InstallLogon, AWindowsOnlyServerIsSwitchedToMixedModeOnlyOnYes) {
  struct Case {
    const char* server;  // nullptr: the question answered No
    int code;
    std::string reason;  // part of the failure box
    std::vector<std::string> services = {};
    std::function<void(Rig&)> arrange = nullptr;
  };
  const std::vector<Case> cases = {
      {nullptr, -7, "服务器上没有作任何更改"},
      {"shopserver", -7,
       "请在“SQL Server 配置管理器”（或“服务”）中重新启动服务 MSSQLSERVER 或 MSSQL$实例名"},
      {"127.0.0.1", 0, "", {"stop MSSQLSERVER", "start MSSQLSERVER", "start SQLSERVERAGENT"}},
      {"127.0.0.1",
       -7,
       "重新启动服务 MSSQLSERVER，然后再次安装。服务器上没有作其他更改。\n\n重新启动服务失败："
       "Access is denied.",
       {"stop MSSQLSERVER"},
       [](Rig& r) { r.fake.services.refusal = "Access is denied."; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code == 0 ? "restarted" : c.reason);
    Rig rig(false);
    rig.answer_all(c.server ? kYes : kNo);
    rig.form.mss2000.server = c.server ? c.server : "127.0.0.1";
    rig.fake.services.states = {{"MSSQLSERVER", ServiceState::Running},
                                {"SQLSERVERAGENT", ServiceState::Running}};
    rig.fake.services.dependants["MSSQLSERVER"] = {"SQLSERVERAGENT"};
    rig.fake.rows("IsIntegratedSecurityOnly", {""}, {{"1"}}).once = true;
    if (c.arrange) c.arrange(rig);
    EXPECT_EQ(rig.run(), c.code);
    const auto trace = rig.trace();
    const auto count = [&](const std::string& call) {
      return std::count(trace.begin(), trace.end(), call);
    };
    EXPECT_EQ(count("EXEC master.dbo.xp_instance_regwrite N'HKEY_LOCAL_MACHINE', N'Software\\"
                    "Microsoft\\MSSQLServer\\MSSQLServer', N'LoginMode', REG_DWORD, 2"),
              c.server ? 1 : 0);
    EXPECT_EQ(rig.fake.services.calls, c.services);
    if (c.code == 0) {
      // Logged on again after the restart, and the mode asked once more.
      EXPECT_THAT(logons(rig), ElementsAre("sa@127.0.0.1", "sa@127.0.0.1", "zq@127.0.0.1"));
      EXPECT_EQ(count("ROWS SELECT SERVERPROPERTY('IsIntegratedSecurityOnly')"), 2);
      continue;
    }
    EXPECT_EQ(rig.ui.statuses().back(), "重新登录数据库失败!");
    EXPECT_THAT(rig.boxes(MsgButtons::Ok).at(0).value, HasSubstr(c.reason));
    // Nothing but the mode was changed: no login, no database.
    EXPECT_THAT(trace, ::testing::Not(::testing::Contains(StartsWith("sp_droplogin"))));
  }
}

}  // namespace
}  // namespace dbsetup
