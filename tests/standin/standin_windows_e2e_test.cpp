// Windows logons and the authentication mode through the FreeTDS ODBC driver:
// NTLM as FreeTDS does it for UID=DOMAIN\user, and LoginMode written with
// xp_instance_regwrite taking effect when the server starts again.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "odbc_client.h"
#include "support/standin_process.h"

namespace dbsetup::testing {
namespace {

using ::testing::Contains;
TEST(StandinWindowsE2E, NtlmLogonsThroughTheOdbcDriver) {
  struct Case {
    const char* uid;
    const char* pwd;
    const char* more;  // connection string options
    Message refusal;   // {0, login}: logged on as that login
    const char* ntlm;  // the response FreeTDS sent
  } cases[] = {
      {"SHOP\\admin", "Adm1n:pw", "", {0, "SHOP\\admin"}, "NTLMv2"},
      {"shop\\ADMIN", "Adm1n:pw", "", {0, "SHOP\\admin"}, "NTLMv2"},
      {"SHOP\\admin", "wrong", "", {18452, ""}, "NTLMv2"},
      {"SHOP\\admin", "Adm1n:pw", ";UseNTLMv2=No", {18452, ""}, "NTLMv1"},
      {"SHOP\\visitor", "V1sitor", "", {18456, "Login failed for user 'SHOP\\visitor'."}, "NTLMv2"},
      {"SHOP\\clerk",
       "Cl3rk",
       "",
       {18470, "Login failed for user 'SHOP\\clerk'. Reason: The account is disabled."},
       "NTLMv2"},
  };
  // Windows Authentication mode, on a server without TLS and on one that
  // encrypts the login packet.
  for (const char* profile : {"2000", "2022"}) {
    const std::string untrusted =
        std::string(profile) == "2000"
            ? "Login failed for user 'SHOP\\admin'. Reason: Not associated with a trusted SQL "
              "Server connection."
            : "Login failed. The login is from an untrusted domain and cannot be used with "
              "Windows Authentication.";
    StandinServer srv({"--profile", profile, "--windows-auth-only", "--windows-login",
                       "SHOP\\admin:Adm1n:pw:sysadmin", "--windows-login", "SHOP\\clerk:Cl3rk",
                       "--windows-account", "SHOP\\visitor:V1sitor", "--disabled-login",
                       "SHOP\\clerk"});
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(profile) + " " + c.uid + c.more + " " + c.pwd);
      OdbcClient client;
      bool ok = client.connect(srv.port(), c.uid, c.pwd, c.more);
      EXPECT_EQ(srv.logons().back().value("ntlm", ""), c.ntlm);
      if (c.refusal.first == 0) {
        ASSERT_TRUE(ok);
        EXPECT_EQ(client.value("SELECT SUSER_SNAME()"), c.refusal.second);
        EXPECT_EQ(client.value("SELECT IS_SRVROLEMEMBER('sysadmin')"), "1");
        continue;
      }
      EXPECT_FALSE(ok);
      Message want = c.refusal;
      if (want.first == 18452) want.second = untrusted;
      EXPECT_THAT(client.messages, Contains(want));
    }
  }
}

TEST(StandinWindowsE2E, LoginModeTakesEffectWhenTheServiceStartsAgain) {
  StandinServer srv({"--profile", "2022", "--windows-auth-only", "--windows-login",
                     "SHOP\\admin:Adm1n:sysadmin", "--database", "shop"});
  const int port = srv.port();
  OdbcClient admin;
  ASSERT_TRUE(admin.connect(port, "SHOP\\admin", "Adm1n"));
  EXPECT_EQ(admin.value("CREATE LOGIN zq WITH PASSWORD = N'zq', CHECK_POLICY = OFF"), "<no rows>");
  EXPECT_EQ(admin.value("EXEC master.dbo.xp_instance_regwrite N'HKEY_LOCAL_MACHINE', "
                        "N'Software\\Microsoft\\MSSQLServer\\MSSQLServer', N'LoginMode', "
                        "N'REG_DWORD', 2"),
            "<no rows>");
  // Written, not yet in effect.
  EXPECT_EQ(admin.value("SELECT SERVERPROPERTY('IsIntegratedSecurityOnly')"), "1");
  EXPECT_EQ(srv.state()["login_mode"]["pending"], 2);

  srv.stop();  // the service stopped: nothing answers on the port
  EXPECT_FALSE(srv.running());
  OdbcClient none;
  EXPECT_FALSE(none.connect(port, "SHOP\\admin", "Adm1n"));
  srv.start();
  EXPECT_EQ(srv.port(), port);
  OdbcClient zq;
  ASSERT_TRUE(zq.connect(port, "zq", "zq"));
  EXPECT_EQ(zq.value("SELECT SERVERPROPERTY('IsIntegratedSecurityOnly')"), "0");
  EXPECT_EQ(zq.value("SELECT DB_NAME(DB_ID('shop'))"), "shop");
}

}  // namespace
}  // namespace dbsetup::testing
