// The ODBC client against the SQL Server stand-in over loopback, through the
// real driver manager and FreeTDS.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "platform/db_client.h"
#include "platform/odbc_driver_version.h"
#include "platform/odbc_text.h"
#include "support/standin_process.h"

namespace dbsetup {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::StandinServer;
using Clock = std::chrono::steady_clock;

DbLogon logon_to(const StandinServer& server, std::string login = "sa",
                 std::string password = "SECRET") {
  return {"", server.address(), "master", std::move(login), std::move(password), true, ""};
}

TEST(OdbcClient, LogsOnAndReportsRefusedLogonsWithTheServersText) {
  StandinServer server({"--login", "clerk:pw:public", "--login", "keeper:p}w;d:public", "--fail",
                        "sp_defaultdb:15010:数据库“零售”不存在。"});
  auto client = make_odbc_client();
  // Before any logon a logoff is harmless and a query fails, leaving nothing behind.
  EXPECT_EQ(client->disconnect().code, 0);
  DbTable table{{"old"}, {{"old"}}};
  EXPECT_EQ(client->query_rows("SELECT 1", table).code, -1);
  EXPECT_THAT(table.rows, IsEmpty());

  // Braces that FreeTDS releases read differently: one attempt, in the
  // style of the driver at hand, which its library tells before the first
  // logon of the process (this one) and the connection confirms; right or
  // wrong.
  const std::string version = odbc::driver_library_version("FreeTDS");
  EXPECT_THAT(version, ::testing::MatchesRegex("[0-9][0-9]\\.[0-9][0-9]\\.[0-9][0-9][0-9][0-9]"));
  EXPECT_TRUE(odbc::freetds_style(version).has_value()) << version;
  EXPECT_EQ(client->connect(logon_to(server, "keeper", "p}w;d")).code, 0);
  client->disconnect();
  EXPECT_EQ(client->connect(logon_to(server, "keeper", "p}w;x")).native_error, 18456);

  DbResult r = client->connect(logon_to(server, "clerk", "wrong"));
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.native_error, 18456);
  EXPECT_EQ(r.text, "Login failed for user 'clerk'.");  // nothing of the driver's own

  // Statements after a refused logon fail without touching the server.
  EXPECT_EQ(client->execute("sp_configure 'allow updates',1").code, -1);

  r = client->connect(logon_to(server, "clerk", "pw"));
  ASSERT_EQ(r.code, 0) << r.text;
  EXPECT_EQ(r.text, "");
  // A server error keeps its number and its text, Chinese included.
  r = client->execute("exec sp_defaultdb N'zq', N'零售'");
  EXPECT_EQ(std::to_string(r.code) + " " + std::to_string(r.native_error) + " " + r.text,
            "-1 15010 数据库“零售”不存在。");
  EXPECT_EQ(client->disconnect().code, 0);
  EXPECT_EQ(client->disconnect().code, 0);  // a second logoff is harmless

  const auto logons = server.logons();
  EXPECT_EQ(std::count_if(logons.begin(), logons.end(),
                          [](const auto& e) { return e.value("user", "") == "keeper"; }),
            2);
  EXPECT_THAT(logons.at(0).dump(), HasSubstr("db_setup")) << "the application's name";
}

// The restore's steps come while it runs; one that fails midway is a failure
// with every error text, after the steps it made.
TEST(OdbcClient, RestoreReportsProgressWhileItRunsAndFailsWithEveryErrorText) {
  for (bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "failing at 50%" : "succeeding after 3 s");
    StandinServer server(fails ? std::vector<std::string>{"--restore-fail-at", "50"}
                               : std::vector<std::string>{"--restore-seconds", "3"});
    const std::string backup = server.make_backup("shop.bak", "shop_Data", "shop_Log");
    std::mutex mutex;
    std::vector<std::string> steps;  // the restore's progress messages
    Clock::time_point first{};       // when the first came
    auto client = make_odbc_client();
    client->set_message_handler([&](const DbMessage& m) {
      if (m.text.find("percent processed.") == std::string::npos) return;
      std::lock_guard<std::mutex> lock(mutex);
      EXPECT_LE(m.severity, 10) << m.text;
      if (steps.empty()) first = Clock::now();
      steps.push_back(m.text);
    });
    ASSERT_EQ(client->connect(logon_to(server)).code, 0);
    // The logon's acknowledgement carries the server's version.
    EXPECT_EQ(client->server_version(), "08.00.2039");

    const auto start = Clock::now();
    const std::string to = "' TO N'" + server.files_root() + "\\shop";
    const DbResult r = client->execute(
        "RESTORE DATABASE [shop] FROM  DISK = N'" + backup +
        "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'shop_Data" + to +
        "_Data.MDF', MOVE N'shop_Log" + to + "_Log.LDF'");
    const auto end = Clock::now();
    std::vector<std::string> expected;
    for (int p = 10; p <= (fails ? 50 : 100); p += 10)
      expected.push_back(std::to_string(p) + " percent processed.");
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(steps, expected);
    if (fails) {
      EXPECT_EQ(r.code, -1);
      EXPECT_NE(r.native_error, 0);
      EXPECT_THAT(r.text, HasSubstr("RESTORE DATABASE is terminating abnormally."));
      EXPECT_GE(std::count(r.text.begin(), r.text.end(), '\n'), 1) << r.text;
      continue;
    }
    ASSERT_EQ(r.code, 0) << r.text;
    // The first step arrives while the restore still runs, well before it
    // ends (the steps are spread over its seconds): progress is live.
    EXPECT_LT(first - start, (end - start) / 2) << "progress held back until the end";
  }
}

}  // namespace
}  // namespace dbsetup
