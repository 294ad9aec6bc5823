// Authentication in the stand-in: the NTLMv2 check against the test values of
// [MS-NLMP] 4.2.4, Windows and disabled logins, and the authentication mode
// written to the registry, which a new start from the saved state applies.

#include <gtest/gtest.h>

#include "executor_harness.h"
#include "ntlm.h"

namespace standin {
namespace {

Bytes hex(const std::string& h) {
  Bytes b;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    b.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return b;
}

// [MS-NLMP] 4.2.4.3: the AUTHENTICATE_MESSAGE of user "User" in domain
// "Domain" (password "Password") from workstation "COMPUTER", answering
// server challenge 0123456789abcdef with an NTLMv2 response.
const Bytes kSpecAuthenticate =
    hex("4e544c4d5353500003000000180018006c00000054005400840000000c000c00"
        "480000000800080054000000100010005c00000010001000d8000000358288e2"
        "0501280a0000000f44006f006d00610069006e00550073006500720043004f00"
        "4d005000550054004500520086c35097ac9cec102554764a57cccc19aaaaaaaa"
        "aaaaaaaa68cd0ab851e51c96aabc927bebef6a1c010100000000000000000000"
        "00000000aaaaaaaaaaaaaaaa0000000002000c0044006f006d00610069006e00"
        "01000c005300650072007600650072000000000000000000c5dad2544fc97990"
        "94ce1ce90bc9d03e");
const ntlm::Challenge kSpecChallenge = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

ntlm::Authenticate spec_answer() {
  auto a = ntlm::parse_authenticate(kSpecAuthenticate);
  EXPECT_TRUE(a.has_value());
  return a.value_or(ntlm::Authenticate{});
}

TEST(Ntlm, Ntlmv2ResponseOfTheSpecificationIsVerified) {
  // 4.2.4.1.1 NTOWFv2(): the response key of the common values.
  ntlm::Hash key = ntlm::ntowfv2("Password", "User", "Domain");
  EXPECT_EQ(Bytes(key.begin(), key.end()), hex("0c868a403bfd7a93a3001ef22ef02e3f"));

  ntlm::Authenticate a = spec_answer();
  EXPECT_EQ(a.domain, "Domain");
  EXPECT_EQ(a.user, "User");
  EXPECT_EQ(a.workstation, "COMPUTER");
  EXPECT_EQ(ntlm::response_kind(a), ntlm::Response::NtlmV2);

  ntlm::Challenge other = kSpecChallenge;
  other[7] ^= 1;
  ntlm::Authenticate tampered = a;
  tampered.nt_response[40] ^= 1;  // inside the signed client challenge
  ntlm::Authenticate other_domain = a;
  other_domain.domain = "DOMAIN";  // the domain counts as sent, letter case included
  struct Case {
    const char* what;
    const ntlm::Authenticate& answer;
    ntlm::Challenge challenge;
    std::string password;
    bool accepted;
  } cases[] = {
      {"the right password", a, kSpecChallenge, "Password", true},
      {"another password", a, kSpecChallenge, "password", false},
      {"an answer to another challenge", a, other, "Password", false},
      {"a changed client challenge", tampered, kSpecChallenge, "Password", false},
      {"another domain name", other_domain, kSpecChallenge, "Password", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ntlm::verify_ntlmv2(c.answer, c.challenge, c.password), c.accepted) << c.what;

  Bytes cut = kSpecAuthenticate;
  cut.resize(200);  // the NT response now reaches beyond the message
  EXPECT_FALSE(ntlm::parse_authenticate(cut));
  EXPECT_FALSE(ntlm::parse_negotiate(hex("4e544c4d5353500002000000")));  // a CHALLENGE
}

// A server on a given profile with an administrator, a securityadmin, a
// plain login and a Windows login (sysadmin) of the account in the NTLM test vectors.
class AuthenticationTest : public harness::ExecutorHarness {
 protected:
  void make(const std::string& profile, const std::function<void(StateOptions&)>& adjust = {}) {
    StateOptions o;
    o.profile = *profile_named(profile);
    if (adjust) adjust(o);
    start(o);
    state_->add_login("joe", "pw");
    state_->add_login("sec", "pw", {"securityadmin"});
    state_->add_windows_account("Domain\\User", "Password");
    state_->add_login("Domain\\User", "", {"sysadmin"}).windows = true;
  }
  static std::pair<int, std::string> refusal(const LoginOutcome& o) {
    if (o.ok || o.messages.empty()) return {0, o.login};
    return {o.messages.back().number, o.messages.back().text};
  }
};

TEST_F(AuthenticationTest, DisabledLoginsAndAlterLogin) {
  make("2022");
  // A SQL Server logon with a Windows login's name is refused like a wrong password.
  EXPECT_EQ(refusal(executor_->login("Domain\\User", "", "")).first, 18456);
  EXPECT_EQ(run("ALTER LOGIN joe DISABLE", "sec").first().first, 0);
  EXPECT_EQ(refusal(executor_->login("joe", "pw", "")),
            std::pair(18470, std::string("Login failed for user 'joe'. Reason: The account is "
                                         "disabled.")));
  EXPECT_EQ(refusal(executor_->login("joe", "wrong", "")).first, 18456);  // the password first
  const std::string cannot = "', because it does not exist or you do not have permission.";
  struct Case {
    const char* sql;
    const char* login;
    std::pair<int, std::string> answer;
  } cases[] = {
      {"ALTER LOGIN [Domain\\User] DISABLE", "sa", {0, ""}},
      {"ALTER LOGIN joe ENABLE", "joe", {15151, "Cannot alter the login 'joe" + cannot}},
      {"ALTER LOGIN sa DISABLE", "sec", {15151, "Cannot alter the login 'sa" + cannot}},
      {"ALTER LOGIN nobody ENABLE", "sa", {15151, "Cannot alter the login 'nobody" + cannot}},
      {"ALTER LOGIN joe ENABLE", "sec", {0, ""}},
      {"ALTER LOGIN joe", "sa", {102, "Incorrect syntax near 'joe'."}},
  };
  for (const auto& c : cases) EXPECT_EQ(run(c.sql, c.login).first(), c.answer) << c.sql;
  EXPECT_TRUE(refusal(executor_->login("joe", "pw", "")).first == 0);
  EXPECT_EQ(refusal(executor_->windows_login(spec_answer(), kSpecChallenge, "")).first, 18470);

  make("2000");
  EXPECT_EQ(run("ALTER LOGIN joe DISABLE").first().first, 343);
}

TEST_F(AuthenticationTest, LoginModeTakesEffectAtTheNextStartFromTheSavedState) {
  const std::string write =
      "EXEC master.dbo.xp_instance_regwrite N'HKEY_LOCAL_MACHINE', "
      "N'Software\\Microsoft\\MSSQLServer\\MSSQLServer', N'LoginMode', ";
  struct Case {
    const char* profile;
    bool windows_only;
    std::string value;  // type and value as the statement gives them
    int next_start;     // the mode the saved state starts in
  } cases[] = {
      {"2022", true, "REG_DWORD, 2", 2}, {"2022", true, "N'REG_DWORD', 2", 2},
      {"2000", true, "REG_DWORD, 2", 2}, {"2022", false, "REG_DWORD, 1", 1},
      {"2022", true, "REG_DWORD, 3", 1},  // no such mode: the last one stays
      {"2022", true, "REG_SZ, N'2'", 1},
  };
  for (const auto& c : cases) {
    make(c.profile, [&](StateOptions& o) { o.windows_auth_only = c.windows_only; });
    state_->add_login("zq", "zq");
    std::string sql = write + c.value;
    EXPECT_EQ(run(sql, "joe").first().first, 229) << c.value;
    EXPECT_TRUE(run(sql).messages().empty()) << c.value;
    // Until the next start the server keeps its mode.
    Cell mode = run("SELECT SERVERPROPERTY('IsIntegratedSecurityOnly')").rows().at(0).at(0);
    EXPECT_EQ(std::get<int64_t>(mode), c.windows_only ? 1 : 0);
    EXPECT_EQ(state_->to_json()["login_mode"],
              (nlohmann::json{{"value", c.windows_only ? 1 : 2}, {"pending", c.next_start}}));

    nlohmann::json saved = state_->to_json();
    make(c.profile, [&](StateOptions& o) { o.windows_auth_only = c.windows_only; });
    state_->load(saved);
    EXPECT_EQ(state_->settings().windows_auth_only, c.next_start == 1) << c.value;
    EXPECT_EQ(refusal(executor_->login("zq", "zq", "")).first, c.next_start == 1 ? 18456 : 0);
    EXPECT_EQ(refusal(executor_->windows_login(spec_answer(), kSpecChallenge, "")).first, 0);
    nlohmann::json now = state_->to_json();
    now.erase("login_mode");
    saved.erase("login_mode");
    EXPECT_EQ(now, saved) << c.value;
  }
  EXPECT_EQ(run(write + "REG_DWORD", "sa").first().first, 201);  // the value is missing
  make("2022");
  EXPECT_EQ(run(write + "REG_DWORD, 2", "joe").first().second,
            "The EXECUTE permission was denied on the object 'xp_instance_regwrite', database "
            "'mssqlsystemresource', schema 'sys'.");
}

}  // namespace
}  // namespace standin
