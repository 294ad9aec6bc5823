// Windows logons through the FreeTDS ODBC driver: NTLM as FreeTDS does it for
// UID=DOMAIN\user. (LoginMode taking effect when the service starts again:
// EndToEndExpress.AWindowsOnlyServerIsSwitchedToMixedMode, tests/e2e_install.)

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

}  // namespace
}  // namespace dbsetup::testing
