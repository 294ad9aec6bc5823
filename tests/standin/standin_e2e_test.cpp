// The stand-in as a process, with FreeTDS's own clients: tsql and the ODBC
// driver through unixODBC.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "support/standin_process.h"

namespace dbsetup::testing {
namespace {

using Clock = std::chrono::steady_clock;

// The installer's existence query, with its one parameter.
const std::string kExists = "SELECT name FROM sysdatabases WHERE LOWER ( name ) = ?";

// A small ODBC client: messages of every result in order.
class Odbc {
 public:
  Odbc() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
  }
  ~Odbc() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  bool connect(int port, const std::string& user, const std::string& password) {
    std::string cs = "DRIVER=FreeTDS;SERVER=127.0.0.1;PORT=" + std::to_string(port) +
                     ";UID=" + user + ";PWD=" + password + ";DATABASE=master;ClientCharset=UTF-8";
    SQLCHAR out[512];
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)cs.c_str(), SQL_NTS, out, sizeof out,
                                    &len, SQL_DRIVER_NOPROMPT);
    collect(SQL_HANDLE_DBC, dbc_);
    connected_ = SQL_SUCCEEDED(rc);
    if (connected_) SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
    return connected_;
  }

  // Runs a statement and drains every result; returns the first return code.
  SQLRETURN exec(const std::string& sql) {
    SQLRETURN first = SQLExecDirect(stmt_, (SQLCHAR*)sql.c_str(), SQL_NTS);
    for (SQLRETURN rc = first; rc != SQL_NO_DATA && rc != SQL_INVALID_HANDLE;
         rc = SQLMoreResults(stmt_))
      collect(SQL_HANDLE_STMT, stmt_);
    return first;
  }

  // Runs `sql` with one string parameter and returns the first column of the first row.
  std::string query(const std::string& sql, const std::string& param, bool prepare) {
    SQLLEN ind = SQL_NTS;
    SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 128, 0,
                     (SQLPOINTER)param.c_str(), static_cast<SQLLEN>(param.size()), &ind);
    SQLRETURN rc = prepare ? SQLPrepare(stmt_, (SQLCHAR*)sql.c_str(), SQL_NTS) : SQL_SUCCESS;
    if (SQL_SUCCEEDED(rc))
      rc = prepare ? SQLExecute(stmt_) : SQLExecDirect(stmt_, (SQLCHAR*)sql.c_str(), SQL_NTS);
    std::string value = "<no row>";
    if (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(SQLFetch(stmt_))) {
      char buf[256];
      SQLLEN got = 0;
      SQLGetData(stmt_, 1, SQL_C_CHAR, buf, sizeof buf, &got);
      value = got == SQL_NULL_DATA ? "<null>" : std::string(buf);
    }
    SQLCloseCursor(stmt_);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    return value;
  }

  void collect(SQLSMALLINT type, SQLHANDLE h) {
    for (SQLSMALLINT i = 1;; ++i) {
      SQLCHAR state[6], text[1024];
      SQLINTEGER native = 0;
      SQLSMALLINT len = 0;
      if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, i, state, &native, text, sizeof text, &len))) break;
      std::string t(reinterpret_cast<char*>(text), static_cast<size_t>(len));
      auto cut = t.rfind("[SQL Server]");
      messages.push_back({native, cut == std::string::npos ? t : t.substr(cut + 12)});
    }
  }

  SQLHSTMT stmt() const { return stmt_; }
  SQLHDBC dbc() const { return dbc_; }
  std::vector<std::pair<int, std::string>> messages;

 private:
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool connected_ = false;
};

nlohmann::json last_of_type(const StandinServer& srv, const std::string& type) {
  nlohmann::json found;
  for (const auto& e : srv.log())
    if (e.value("type", "") == type) found = e;
  return found;
}

std::string restore_sql(const std::string& db, const std::string& bak, const std::string& dir) {
  return "RESTORE DATABASE [" + db + "] FROM  DISK = N'" + bak +
         "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'tavox_data' TO "
         "N'" +
         dir + db + "_Data.MDF', MOVE N'tavox_log' TO N'" + dir + db + "_Log.LDF'";
}

TEST(StandinE2E, OdbcDriverRunsTheInstallersStatements) {
  StandinServer srv({"--login", "sa:SECRET:sysadmin", "--database", "tavox"});
  Odbc c;
  ASSERT_TRUE(c.connect(srv.port(), "sa", "SECRET"));
  // (The installer's sp_executesql: tests/e2e_install, tests/e2e_injection.)
  EXPECT_EQ(c.query(kExists, "TAVOX", true), "tavox");
  EXPECT_EQ(last_of_type(srv, "rpc")["proc"], "sp_prepexec");

  // FreeTDS answers SQL_NO_DATA for a statement that returns neither rows nor a count.
  EXPECT_THAT(c.exec("sp_addlogin 'zq','zq'"),
              ::testing::AnyOf(SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA));
  Odbc zq;  // a second connection while the first stays open
  ASSERT_TRUE(zq.connect(srv.port(), "zq", "zq"));
  EXPECT_EQ(c.exec("sp_droplogin zq"), SQL_ERROR);  // logged on elsewhere
  EXPECT_EQ(c.messages.back().first, 15434);
}

TEST(StandinE2E, CancelStopsARestoreAndTheConnectionGoesOn) {
  StandinServer srv({"--restore-seconds", "20"});
  std::string bak = srv.make_backup("tavox", "tavox_data", "tavox_log");
  std::filesystem::create_directories(srv.files_root() + "/data");
  Odbc c;
  ASSERT_TRUE(c.connect(srv.port(), "sa", "SECRET"));
  auto started = Clock::now();
  std::thread cancel([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    SQLCancel(c.stmt());
  });
  c.exec(restore_sql("tavox", bak, srv.files_root() + "\\data\\"));
  cancel.join();
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(30)) << "the cancel was not heard";
  EXPECT_EQ(last_of_type(srv, "batch")["outcome"]["cancelled"], true);
  SQLFreeStmt(c.stmt(), SQL_CLOSE);
  EXPECT_EQ(c.query(kExists, "master", false), "master");
  EXPECT_EQ(srv.state()["databases"].back()["status"], "RESTORING");
}

TEST(StandinE2E, OlderTdsVersionsCarryTheSameAnswers) {
  for (const char* version : {"7.1", "7.2"}) {
    StandinServer srv({"--tds-version", version, "--database", "tavox"});
    Odbc c;
    ASSERT_TRUE(c.connect(srv.port(), "sa", "SECRET")) << version;
    EXPECT_EQ(last_of_type(srv, "login")["tds_version"], version);
    EXPECT_EQ(c.query(kExists, "tavox", false), "tavox");
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
// made, checked to its end, restored as any other backup.
TEST(StandinE2E, BackupThenRestoreOfTheCopyRoundTrips) {
  StandinServer srv({"--profile", "2022", "--drive", "D:500:D", "--model-size-mb", "1"});
  Odbc c;
  ASSERT_TRUE(c.connect(srv.port(), "sa", "SECRET"));
  c.exec("EXEC master.dbo.xp_create_subdir N'D:\\Data\\Copies'");
  ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(
      c.stmt(), (SQLCHAR*)"EXEC master.dbo.xp_fileexist N'D:\\Data\\Copies\\'", SQL_NTS)));
  SQLCHAR name[64] = {};
  SQLSMALLINT len = 0;
  SQLDescribeCol(c.stmt(), 2, name, sizeof name, &len, nullptr, nullptr, nullptr, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(name), "File is a Directory");
  SQLINTEGER directory = 0;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(c.stmt())));
  SQLGetData(c.stmt(), 2, SQL_C_SLONG, &directory, 0, nullptr);
  EXPECT_EQ(directory, 1);
  SQLCloseCursor(c.stmt());

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
  c.messages.clear();
  c.exec("RESTORE VERIFYONLY FROM DISK = N'" + copy + "' WITH FILE = 1, STATS = 10");
  EXPECT_EQ(c.messages.back(), std::pair(3262, std::string("The backup set on file 1 is valid.")));
  c.messages.clear();
  c.exec("RESTORE DATABASE [shop2] FROM  DISK = N'" + copy +
         "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'shop_data' TO "
         "N'" +
         dir + "shop2.mdf', MOVE N'shop_log' TO N'" + dir + "shop2.ldf'");
  EXPECT_EQ(c.messages.back().first, 3014);

  const nlohmann::json state = srv.state();
  const auto& restored = state["databases"].back();
  EXPECT_EQ(restored["name"], "shop2");
  EXPECT_EQ(restored["status"], "ONLINE");
  EXPECT_EQ(restored["files"][0]["pages"], 256);
  EXPECT_TRUE(std::filesystem::exists(srv.files_root() + "/D/Data/shop2.mdf"));
  EXPECT_EQ(state["backups"][0]["path"], copy);
  EXPECT_TRUE(
      std::filesystem::exists(srv.files_root() + "/D/Data/Copies/shop_20240601_120000.bak"));
  // 500 MB less the two databases (3 MB each) and the copy (a little over 3 MB).
  EXPECT_EQ(state["drives"][1]["free_mb"], 490);

  // A copy cut short passes neither check nor restore.
  const std::string cut = srv.make_backup("cut", "shop_data", "shop_log", {.truncated_at = 50});
  c.messages.clear();
  EXPECT_EQ(c.exec("RESTORE VERIFYONLY FROM DISK = N'" + cut + "' WITH FILE = 1"), SQL_ERROR);
  ASSERT_EQ(c.messages.size(), 2u);
  EXPECT_EQ(c.messages[0],
            std::pair(3203, "Read on \"" + cut + "\" failed: 38(Reached the end of the file.)"));

  srv.restart();  // a restart keeps the disk as it was
  EXPECT_EQ(srv.state()["drives"][1]["free_mb"], 490);
  EXPECT_EQ(srv.state()["backups"][0]["path"], copy);
}

// (Backup lists through the driver on each kind of server: tests/e2e_install.)
TEST(StandinE2E, TodaysServerReportsItsVersionAndMayRefuseSqlLogins) {
  StandinServer today({"--profile", "2022"});
  Odbc c;
  ASSERT_TRUE(c.connect(today.port(), "sa", "SECRET"));
  char version[64] = {};
  SQLGetInfo(c.dbc(), SQL_DBMS_VER, version, sizeof version, nullptr);
  EXPECT_STREQ(version, "16.00.1000");

  StandinServer windows_only({"--profile", "2022", "--windows-auth-only"});
  Odbc refused;
  EXPECT_FALSE(refused.connect(windows_only.port(), "sa", "SECRET"));
  EXPECT_THAT(refused.messages,
              ::testing::Contains(std::pair(18456, std::string("Login failed for user 'sa'."))));
}

}  // namespace
}  // namespace dbsetup::testing
