// The stand-in as a process, with FreeTDS's own clients: tsql and the ODBC
// driver through unixODBC.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "odbc_client.h"
#include "support/standin_process.h"

namespace dbsetup::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The installer's existence query, with its one parameter.
const std::string kExists = "SELECT name FROM sysdatabases WHERE LOWER ( name ) = ?";

nlohmann::json last_of_type(const StandinServer& srv, const std::string& type) {
  nlohmann::json found;
  for (const auto& e : srv.log())
    if (e.value("type", "") == type) found = e;
  return found;
}

// The installer's restore of tavox's backup.
std::string restore_sql(const std::string& bak, const std::string& dir) {
  return "RESTORE DATABASE [tavox] FROM  DISK = N'" + bak +
         "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'tavox_data' "
         "TO N'" +
         dir + "tavox_Data.MDF', MOVE N'tavox_log' TO N'" + dir + "tavox_Log.LDF'";
}

TEST(StandinE2E, OdbcDriverRunsTheInstallersStatements) {
  StandinServer srv({"--login", "sa:SECRET:sysadmin", "--database", "tavox"});
  OdbcClient c;
  ASSERT_TRUE(c.connect(srv.port(), "sa", "SECRET"));
  // (The installer's sp_executesql: tests/e2e_install, tests/e2e_injection.)
  EXPECT_EQ(c.value(kExists, "TAVOX", true), "tavox");
  EXPECT_EQ(last_of_type(srv, "rpc")["proc"], "sp_prepexec");

  // FreeTDS answers SQL_NO_DATA for a statement that returns neither rows nor a count.
  EXPECT_THAT(c.exec("sp_addlogin 'zq','zq'"),
              ::testing::AnyOf(SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA));
  OdbcClient zq;  // a second connection while the first stays open
  ASSERT_TRUE(zq.connect(srv.port(), "zq", "zq"));
  EXPECT_EQ(c.exec("sp_droplogin zq"), SQL_ERROR);  // logged on elsewhere
  EXPECT_EQ(c.messages.back().first, 15434);
}

TEST(StandinE2E, CancelStopsARestoreAndTheConnectionGoesOn) {
  StandinServer srv({"--restore-seconds", "20"});
  std::string bak = srv.make_backup("tavox", "tavox_data", "tavox_log");
  std::filesystem::create_directories(srv.files_root() + "/data");
  OdbcClient c;
  ASSERT_TRUE(c.connect(srv.port(), "sa", "SECRET"));
  auto started = Clock::now();
  std::thread cancel([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    SQLCancel(c.stmt());
  });
  c.exec(restore_sql(bak, srv.files_root() + "\\data\\"));
  cancel.join();
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(30)) << "the cancel was not heard";
  EXPECT_EQ(last_of_type(srv, "batch")["outcome"]["cancelled"], true);
  SQLFreeStmt(c.stmt(), SQL_CLOSE);
  EXPECT_EQ(c.value(kExists, "master"), "master");
  EXPECT_EQ(srv.state()["databases"].back()["status"], "RESTORING");
}

TEST(StandinE2E, OlderTdsVersionsCarryTheSameAnswers) {
  for (const char* version : {"7.1", "7.2"}) {
    StandinServer srv({"--tds-version", version, "--database", "tavox"});
    OdbcClient c;
    ASSERT_TRUE(c.connect(srv.port(), "sa", "SECRET")) << version;
    EXPECT_EQ(last_of_type(srv, "login")["tds_version"], version);
    EXPECT_EQ(c.value(kExists, "tavox"), "tavox");
    c.messages.clear();
    EXPECT_EQ(c.exec("Drop DATABASE nosuch"), SQL_ERROR);
    EXPECT_EQ(c.exec("sp_configure 'allow updates',1"), SQL_SUCCESS_WITH_INFO);
    ASSERT_EQ(c.messages.size(), 2u);
    EXPECT_EQ(std::pair(c.messages[0].first, c.messages[1].first), std::pair(3701, 15457));
  }
}

TEST(StandinE2E, IdleServerLeavesByItself) {
  const std::string bin = STANDIN_BINARY;
  const std::string port =
      std::filesystem::temp_directory_path() / ("standin-idle-" + std::to_string(::getpid()));
  auto started = Clock::now();
  EXPECT_EQ(std::system(("timeout 20 " + bin + " --port 0 --idle-timeout 1 > " + port).c_str()), 0);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(15)) << "idle for 1 s, it did not leave";
  int number = 0;
  EXPECT_TRUE(std::ifstream(port) >> number);
  EXPECT_GT(number, 0);
  std::filesystem::remove(port);
  EXPECT_NE(std::system((bin + " --no-such-option 2>/dev/null").c_str()), 0);
}

// The copy an overwrite takes first: BACKUP DATABASE to a folder the server
// made, and the disk as a restart keeps it. (The copy restored:
// EndToEndSafety.AFailureAfterTheDropIsRepairedWithTheCopy, tests/e2e_install.)
TEST(StandinE2E, BackupToAFolderTheServerMadeOutlastsARestart) {
  StandinServer srv({"--profile", "2022", "--drive", "D:500:D", "--model-size-mb", "1"});
  OdbcClient c;
  ASSERT_TRUE(c.connect(srv.port(), "sa", "SECRET"));
  c.exec("EXEC master.dbo.xp_create_subdir N'D:\\Data\\Copies'");
  EXPECT_EQ(c.value("EXEC master.dbo.xp_fileexist N'D:\\Data\\Copies\\'", {}, false, 2), "1");

  const std::string dir = "D:\\Data\\";
  c.exec("CREATE DATABASE [shop] ON (NAME = N'shop_data', FILENAME = N'" + dir +
         "shop.mdf', SIZE = 2) LOG ON (NAME = N'shop_log', FILENAME = N'" + dir + "shop.ldf')");
  const std::string copy = dir + "Copies\\shop_20240601_120000.bak";
  c.messages.clear();
  EXPECT_EQ(c.exec("BACKUP DATABASE [shop] TO DISK = N'" + copy + "' WITH INIT, STATS = 10"),
            SQL_SUCCESS_WITH_INFO);
  ASSERT_FALSE(c.messages.empty());
  EXPECT_EQ(c.messages.front(), std::pair(3211, std::string("12 percent processed.")));
  EXPECT_EQ(c.messages.back().first, 3014);
  EXPECT_TRUE(
      std::filesystem::exists(srv.files_root() + "/D/Data/Copies/shop_20240601_120000.bak"));

  // 500 MB less the database (3 MB) and the copy (a little over 3 MB), before
  // a restart and after it.
  for (bool restarted : {false, true}) {
    if (restarted) srv.restart();
    const nlohmann::json state = srv.state();
    EXPECT_EQ(state["drives"][1]["free_mb"], 493) << restarted;
    EXPECT_EQ(state["backups"][0]["path"], copy) << restarted;
  }
}

}  // namespace
}  // namespace dbsetup::testing
