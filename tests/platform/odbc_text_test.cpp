#include "platform/odbc_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace dbsetup::odbc {
namespace {

using ::testing::ElementsAre;
using ::testing::Not;

// Splits a connection string into key=value pairs separated by ';'. With
// `doubled` a braced value runs to the first '}' not doubled (ODBC's rule);
// otherwise it runs verbatim to the first "};" or the end (FreeTDS up to 1.3).
std::map<std::string, std::string> parse_connection_string(const std::string& s,
                                                           bool doubled = true) {
  std::map<std::string, std::string> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t eq = s.find('=', i);
    if (eq == std::string::npos) break;
    std::string& value = out[s.substr(i, eq - i)];
    value.clear();
    i = eq + 1;
    if (s.compare(i, 1, "{") != 0) {
      const std::size_t end = std::min(s.find(';', i), s.size());
      value = s.substr(i, end - i);
      i = end;
    } else if (!doubled) {
      const std::size_t end = std::min(s.find("};", i + 1), s.size() - 1);
      value = s.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {  // s.at() throws on an unterminated brace
      for (++i; s.at(i) != '}' || s.compare(i, 2, "}}") == 0; ++i) {
        value += s[i];
        if (s[i] == '}') ++i;
      }
      ++i;
    }
    if (i < s.size() && s[i] == ';') ++i;
  }
  return out;
}

TEST(OdbcDriver, PicksThePreferredInstalledDriverOnWindowsAndFreeTdsElsewhere) {
  EXPECT_EQ(choose_driver("", {"SQL Server", "ODBC Driver 17 for SQL Server"}, true),
            "ODBC Driver 17 for SQL Server");
  EXPECT_EQ(choose_driver("", {"sql server native client 11.0", "SQL Server"}, true),
            "SQL Server Native Client 11.0");
  EXPECT_EQ(
      choose_driver("", {"ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"}, true),
      "ODBC Driver 18 for SQL Server");
  EXPECT_EQ(choose_driver("", {"Microsoft Access Driver (*.mdb)"}, true), "SQL Server");
  EXPECT_EQ(choose_driver("", {}, false), "FreeTDS");
  // The override wins everywhere, installed or not.
  EXPECT_EQ(choose_driver("My Driver", {"ODBC Driver 18 for SQL Server"}, true), "My Driver");
  EXPECT_EQ(choose_driver("/usr/lib/libtdsodbc.so", {}, false), "/usr/lib/libtdsodbc.so");

  EXPECT_TRUE(is_freetds("/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so"));
}

TEST(OdbcConnectionString, BracedValuesSurviveAndMicrosoftDriversTakeTheServerAsItStands) {
  EXPECT_EQ(brace(""), "{}");
  EXPECT_EQ(brace("a}b"), "{a}}b}");
  EXPECT_EQ(brace("}}"), "{}}}}}");

  // Microsoft's drivers take the server field as it stands; only 18 needs
  // to be told that encryption is optional.
  DbLogon logon{"",   "dbhost\\SQL2000,1500",    "master", "s;a", "p;w}d={x}",
                true, ";MultiSubnetFailover=Yes"};
  for (const std::string version : {"17", "18"}) {
    const std::string driver = "ODBC Driver " + version + " for SQL Server";
    EXPECT_EQ(connection_string(logon, driver),
              "DRIVER={" + driver + "};Server={dbhost\\SQL2000,1500};Encrypt={" +
                  (version == "18" ? "Optional" : "no") +
                  "};TrustServerCertificate={yes};Database={master};UID={s;a};"
                  "PWD={p;w}}d={x}}};APP={db_setup};MultiSubnetFailover=Yes");
  }

  // FreeTDS, read either way, in the style written for that reading.
  for (bool doubled : {false, true}) {
    const auto style = doubled ? FreeTdsBraces::doubled : FreeTdsBraces::verbatim;
    for (const char* password : {"p;w}d={x}", "a}b", "a}}b=c", "{a}b", "x}", "plain=1;2", ""}) {
      logon.password = password;
      auto parts = parse_connection_string(connection_string(logon, "FreeTDS", style), doubled);
      EXPECT_EQ(parts.at("PWD"), password) << doubled;
      EXPECT_EQ(parts.at("UID"), "s;a") << doubled;
    }
  }

  // The style follows the release the driver reports; doubling came with 1.4.
  for (const char* version : {"01.03.0017", "00.91.0000"})
    EXPECT_EQ(freetds_style(version), FreeTdsBraces::verbatim) << version;
  for (const char* version : {"01.04.0001", "02.00.0000"})
    EXPECT_EQ(freetds_style(version), FreeTdsBraces::doubled) << version;
  for (const char* version : {"freetds", ""}) EXPECT_EQ(freetds_style(version), std::nullopt);
}

// Windows authentication: the signed-in user through Microsoft's drivers, a
// named Windows account through FreeTDS (NTLM); each refuses the other kind
// before anything is sent, saying what to type.
TEST(OdbcConnectionString, WindowsAuthenticationAsEachDriverCanDoIt) {
  const std::string microsoft = "ODBC Driver 17 for SQL Server";
  DbLogon logon{"", "lpc:(local)\\SQLEXPRESS", "master", "", "ignored", true, ""};
  EXPECT_EQ(authentication_problem(logon, microsoft), "");
  EXPECT_EQ(connection_string(logon, microsoft),
            "DRIVER={" + microsoft +
                "};Server={lpc:(local)\\SQLEXPRESS};Encrypt={no};TrustServerCertificate={yes};"
                "Database={master};Trusted_Connection={Yes};APP={db_setup};");
  EXPECT_THAT(authentication_problem(logon, "FreeTDS"), ::testing::HasSubstr("域\\用户名"));

  logon.login = "SHOP\\admin";
  logon.server = "127.0.0.1";
  EXPECT_EQ(authentication_problem(logon, "FreeTDS"), "");
  EXPECT_EQ(parse_connection_string(connection_string(logon, "FreeTDS")).at("UID"), "SHOP\\admin");
  EXPECT_THAT(authentication_problem(logon, microsoft), ::testing::HasSubstr("登录名留空"));
  logon.login = "sa";
  EXPECT_EQ(authentication_problem(logon, microsoft), "");
  EXPECT_EQ(authentication_problem(logon, "FreeTDS"), "");
}

TEST(OdbcConnectionString, FreeTdsGetsHostPortAndInstanceAsItsKeywordsWantThem) {
  struct Row {
    const char* server;
    const char* host;
    const char* port;  // "" when absent
  };
  for (const Row& row : {
           Row{"dbhost,1500", "dbhost", "1500"},
           Row{"dbhost\\SQL2000", "dbhost\\SQL2000", ""},
           // A port beside the instance makes the instance lookup unnecessary.
           Row{"dbhost\\SQL2000,1500", "dbhost", "1500"},
           Row{"(local)", "127.0.0.1", "1433"},  // a bare host is the default port
           Row{" dbhost , 1433 ", "dbhost", "1433"},
           Row{"tcp:dbhost,1433", "dbhost", "1433"},
       }) {
    SCOPED_TRACE(row.server);
    DbLogon logon;
    logon.server = row.server;
    auto parts = parse_connection_string(connection_string(logon, "FreeTDS"));
    EXPECT_EQ(parts["Server"], row.host);
    EXPECT_EQ(parts.count("Port") ? parts["Port"] : "", row.port);
    EXPECT_EQ(parts["Encryption"], "request");
    EXPECT_EQ(parts["ClientCharset"], "UTF-8");
    EXPECT_EQ(parts["TDS_Version"], "7.4");
  }
  // A text that is no address is not passed on, to either kind of driver:
  // a port left in the host would reach the default port instead.
  for (const char* server : {"dbhost,abc", "dbhost,1433x", "", "dbhost\\a\\b"}) {
    SCOPED_TRACE(server);
    DbLogon logon;
    logon.server = server;
    EXPECT_FALSE(parse_server(server));
    EXPECT_EQ(connection_string(logon, "FreeTDS"), "");
    EXPECT_EQ(connection_string(logon, "ODBC Driver 18 for SQL Server"), "");
  }
}

TEST(OdbcMessages, StripsDriverPrefixesButKeepsTheServersOwnBrackets) {
  for (const auto& [text, stripped] : std::vector<std::pair<std::string, std::string>>{
           {"[Microsoft][ODBC Driver 18 for SQL Server][SQL Server]Cannot open database.",
            "Cannot open database."},
           {"[unixODBC][FreeTDS][SQL Server]x", "x"},
           {"[FreeTDS][SQL Server][dbo].[t] is missing", "[dbo].[t] is missing"},
           // Messages of the driver itself have no [SQL Server] group.
           {"[unixODBC][Driver Manager]Data source name not found", "Data source name not found"},
           {"Plain text", "Plain text"},
           {"[unclosed", "[unclosed"},
           {"数据库[中文]", "数据库[中文]"},
       })
    EXPECT_EQ(strip_driver_prefixes(text), stripped);
}

Diagnostic diag(const char* state, int32_t native, const char* text, int32_t severity = -1) {
  return Diagnostic{state, native, severity, text};
}

// Whole results and messages as text, for comparisons in one piece.
std::string show(const DbResult& r) {
  return std::to_string(r.code) + " " + std::to_string(r.native_error) + " " + r.text;
}
std::vector<std::string> show(const std::vector<DbMessage>& messages) {
  std::vector<std::string> out;
  for (const DbMessage& m : messages)
    out.push_back(std::to_string(m.number) + " " + std::to_string(m.severity) + " " + m.text);
  return out;
}

TEST(OdbcOutcome, ErrorsDecideTheResultWhateverTheDriverReturned) {
  std::vector<DbMessage> messages;
  DbMessageHandler handler = [&](const DbMessage& m) { messages.push_back(m); };

  // Informational records only: success, each message delivered in order
  // with its class as reported (10 for a server message of unknown class).
  {
    Outcome o(&handler);
    o.step(false, {diag("01000", 5701, "Changed database context to 'master'.", 0)});
    o.step(false, {diag("01000", 3211, "10 percent processed."),
                   diag("01000", 3211, "20 percent processed.")});
    EXPECT_EQ(show(o.result()), "0 0 ");
    EXPECT_THAT(show(messages),
                ElementsAre("5701 0 Changed database context to 'master'.",
                            "3211 10 10 percent processed.", "3211 10 20 percent processed."));
  }

  // An error record on a step the driver called a success still fails, and
  // the errors after informational messages are all kept, first number wins.
  {
    messages.clear();
    Outcome o(&handler);
    o.step(false, {diag("01000", 3211, "50 percent processed.")});
    o.step(false,
           {diag("42000", 3201, "Cannot open backup device 'x'."), diag("01000", 0, "between"),
            diag("42000", 3013, "RESTORE DATABASE is terminating abnormally.")});
    EXPECT_EQ(show(o.result(100)),
              "-1 3201 Cannot open backup device 'x'.\n"
              "RESTORE DATABASE is terminating abnormally.");
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_FALSE(o.connection_lost());
  }

  // The first error that carries a server number gives the number, the
  // driver's numberless summary is left out and a repeated text shows once.
  {
    Outcome o(nullptr);
    o.step(true, {diag("08001", 0, "Unable to connect to data source"),
                  diag("42000", 18456, "Login failed for user 'sa'."),
                  diag("42000", 18456, "Login failed for user 'sa'.")});
    EXPECT_EQ(show(o.result()), "-1 18456 Login failed for user 'sa'.");
    EXPECT_TRUE(o.connection_lost());
  }

  // SQL_ERROR without any error record still fails, with whatever was said:
  // FreeTDS reports a closed connection as a class 01 record with SQL_ERROR.
  {
    Outcome o(nullptr);
    o.step(true, {});
    EXPECT_EQ(o.result().code, -1);
    EXPECT_THAT(o.result().text, Not(""));
    messages.clear();
    Outcome p(&handler);
    p.step(false, {diag("01000", 0, "before")});
    p.step(true, {diag("01000", 20017, "Unexpected EOF from the server")});
    EXPECT_EQ(show(p.result()), "-1 20017 Unexpected EOF from the server");
    EXPECT_THAT(show(messages), ElementsAre("0 0 before"));
  }

  // The driver manager's warnings do not fail a step; a success code passes through.
  {
    Outcome o(nullptr);
    o.step(false, {diag("IM006", 0, "Driver's SQLSetConnectAttr failed"),
                   diag("01S00", 0, "Invalid connection string attribute")});
    EXPECT_EQ(o.result(100).code, 100);
  }

  // A timeout is noted, so that the statement ends there; messages and
  // errors of other kinds are not taken for one.
  for (const char* state : {"42000", "HYT00"}) {
    Outcome o(nullptr);
    o.step(false, {diag("01000", 3211, "50 percent processed.")});
    o.step(true, {diag(state, 0, "Timeout expired")});
    EXPECT_EQ(o.timed_out(), state == std::string("HYT00")) << state;
    EXPECT_FALSE(o.connection_lost());
    EXPECT_EQ(o.result().text, "Timeout expired");
  }
}

// The two timeouts come from the environment when it holds a sensible number
// of seconds; the logon waits 15 seconds otherwise.
TEST(RunSettings, TakeWholeSecondsAndNamesFromTheEnvironmentOrTheDefaults) {
  EXPECT_EQ(seconds_setting(nullptr, 15), 15);
  EXPECT_EQ(seconds_setting("3", 15), 3);
  EXPECT_EQ(seconds_setting(" 2 ", 15), 2);
  EXPECT_EQ(seconds_setting("86400", 15), 86400);
  for (const char* bad : {"", "0", "-3", "2.5", "2s", "86401", "99999999999999999999", "x"})
    EXPECT_EQ(seconds_setting(bad, 15), 15) << bad;

  // What a setting does, the silent-server tests show end to end. A real
  // restore may go many minutes between two messages.
  const std::map<std::string, std::string> env = {{"DB_SETUP_SILENCE_TIMEOUT", "soon"},
                                                  {"DB_SETUP_LOGIN_TIMEOUT", "4"},
                                                  {"DB_SETUP_ODBC_DRIVER", "FreeTDS"}};
  const RunSettings s = RunSettings::from([&](const char* name) -> std::optional<std::string> {
    auto it = env.find(name);
    return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
  });
  EXPECT_EQ(s.login_timeout_seconds, 4);
  EXPECT_EQ(s.silence_timeout_seconds, RunSettings{}.silence_timeout_seconds);
  EXPECT_GE(RunSettings{}.silence_timeout_seconds, 600);
  EXPECT_EQ(s.odbc_driver, "FreeTDS");
  EXPECT_EQ(s.registry_file, "");
}

}  // namespace
}  // namespace dbsetup::odbc
