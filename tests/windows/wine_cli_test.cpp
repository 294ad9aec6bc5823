// db_setup_cli.exe end to end under Wine: the registry written with
// `wine reg add`, dbinstall.ini in the program's current folder, and the SQL
// Server stand-in on loopback, reached through Wine's odbc32, unixODBC and the
// FreeTDS driver.
//
// Runs on the Linux side. It needs
//   DB_SETUP_WINE_CLI  the cross-built db_setup_cli.exe
//   WINEPREFIX         a booted prefix with its wineserver running
// (the cross build's ctest sets both; see tests/windows/CMakeLists.txt).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/standin_process.h"

namespace dbsetup::testing {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out;
  std::string err;

  std::vector<std::string> lines() const {
    std::vector<std::string> out_lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out_lines.push_back(line);
    }
    return out_lines;
  }
  std::string last_line() const {
    auto all = lines();
    return all.empty() ? std::string() : all.back();
  }
};

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A Unix path as the Windows program passes it to the server: with
// backslashes. The stand-in turns them back into slashes.
std::string server_path(const std::string& unix_path) {
  std::string out = unix_path;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

enum class View { Bits32, Bits64 };

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* cli = std::getenv("DB_SETUP_WINE_CLI");
    const char* prefix = std::getenv("WINEPREFIX");
    ASSERT_TRUE(cli && *cli) << "DB_SETUP_WINE_CLI must name db_setup_cli.exe";
    ASSERT_TRUE(prefix && fs::exists(fs::path(prefix) / "drive_c"))
        << "WINEPREFIX must name a booted prefix";
    cli_ = cli;
    ASSERT_TRUE(fs::exists(cli_)) << cli_;

    std::string dir = (fs::temp_directory_path() / "wine_cli-XXXXXX").string();
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    fs::create_directories(dir_ / "setup");

    // Every test starts without SQL Server keys, in either view.
    for (const char* key : {"HKLM\\SOFTWARE\\Microsoft\\MSSQLServer",
                            "HKLM\\SOFTWARE\\Microsoft\\Microsoft SQL Server"})
      for (const char* view : {"/reg:32", "/reg:64"}) wine({"reg", "delete", key, "/f", view});
  }

  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

  // Runs `wine ARGS...` in `cwd`, its output in files, at most `seconds` long
  // (status 124 when the limit struck). Standard input is empty.
  Result wine(const std::vector<std::string>& args, const fs::path& cwd = "/",
              const std::vector<std::pair<std::string, std::string>>& env = {}, int seconds = 60) {
    const fs::path out = dir_ / "wine.out", err = dir_ / "wine.err";
    std::vector<std::string> argv = {"timeout", "-k", "5", std::to_string(seconds), "wine"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = ::fork();
    if (pid == 0) {
      int in_fd = ::open("/dev/null", O_RDONLY);
      int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
      ::dup2(in_fd, 0);
      ::dup2(out_fd, 1);
      ::dup2(err_fd, 2);
      for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> c_argv;
      for (auto& a : argv) c_argv.push_back(a.data());
      c_argv.push_back(nullptr);
      ::execvp(c_argv[0], c_argv.data());
      ::_exit(127);
    }
    Result result;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
      result.status = WEXITSTATUS(status);
    result.out = read_text(out);
    result.err = read_text(err);
    return result;
  }

  void reg_add(View view, const std::string& key, const std::string& name, const std::string& type,
               const std::string& data) {
    Result r = wine({"reg", "add", key, "/v", name, "/t", type, "/d", data, "/f",
                     view == View::Bits32 ? "/reg:32" : "/reg:64"});
    ASSERT_EQ(r.status, 0) << key << " " << name << "\n" << r.out << r.err;
  }

  Result run_cli(std::vector<std::string> args, const std::string& password) {
    args.insert(args.begin(), cli_);
    return wine(args, dir_ / "setup",
                {{"DB_SETUP_PASSWORD", password}, {"DB_SETUP_ODBC_DRIVER", "FreeTDS"}});
  }

  // What the operator saw in the window of win32_window_tests.exe's
  // end-to-end case (tests/windows/win32_window_e2e.cpp), run in the setup
  // folder with these field values.
  struct WindowRun {
    Result result;
    std::string status;
    std::vector<std::string> boxes;
    long gap = -1;
    long ticks = 0, span = 0;
    std::vector<int> progress;
  };
  static bool has_window() {
    const char* exe = std::getenv("DB_SETUP_WINE_WINDOW_TESTS");
    return exe && *exe;
  }
  WindowRun run_window(const std::string& edition, const std::string& server,
                       const std::string& backup, const std::string& database = "") {
    const char* exe = std::getenv("DB_SETUP_WINE_WINDOW_TESTS");
    WindowRun run;
    run.result = wine({exe, "--gtest_filter=Win32WindowE2E.*"}, dir_ / "setup",
                      {{"DB_SETUP_ODBC_DRIVER", "FreeTDS"},
                       {"DB_SETUP_E2E_SERVER", server},
                       {"DB_SETUP_E2E_EDITION", edition},
                       {"DB_SETUP_E2E_PASSWORD", "SECRET"},
                       {"DB_SETUP_E2E_BACKUP", backup},
                       {"DB_SETUP_E2E_DATABASE", database}},
                      120);
    for (const std::string& line : run.result.lines()) {
      if (line.rfind("STATUS: ", 0) == 0) run.status = line.substr(8);
      if (line.rfind("BOX: ", 0) == 0) run.boxes.push_back(line.substr(5));
      if (line.rfind("GAP: ", 0) == 0) run.gap = std::stol(line.substr(5));
      if (line.rfind("TICKS: ", 0) == 0)
        std::sscanf(line.c_str(), "TICKS: %ld in %ld", &run.ticks, &run.span);
      if (line.rfind("PROGRESS:", 0) == 0) {
        std::istringstream values(line.substr(9));
        for (int p; values >> p;) run.progress.push_back(p);
      }
    }
    return run;
  }

  // A machine with SQL Server 2000 on the stand-in's disk: the instance
  // list in the 32-bit view, as SQL Server 2000 writes it; the default
  // instance there too, the named instance SHOP only in the 64-bit view; and
  // dbinstall.ini naming shopdb. Returns the disk as the server writes it.
  std::string machine_2000(const StandinServer& server) {
    const std::string disk = server_path(server.files_root());
    fs::create_directories(server.files_root() + "/MSSQL/Data");
    fs::create_directories(server.files_root() + "/MSSQL$SHOP/Data");
    const std::string sql = "HKLM\\SOFTWARE\\Microsoft\\Microsoft SQL Server";
    reg_add(View::Bits32, sql, "InstalledInstances", "REG_MULTI_SZ", "MSSQLSERVER\\0SHOP");
    reg_add(View::Bits32, "HKLM\\SOFTWARE\\Microsoft\\MSSQLServer\\Setup", "SQLDataRoot", "REG_SZ",
            disk + "\\MSSQL");
    reg_add(View::Bits32, "HKLM\\SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer", "DefaultDomain",
            "REG_SZ", "SHOPS");
    reg_add(View::Bits64, sql + "\\SHOP\\Setup", "SQLDataRoot", "REG_SZ", disk + "\\MSSQL$SHOP");
    reg_add(View::Bits64, sql + "\\SHOP\\MSSQLServer", "DefaultDomain", "REG_SZ", "SHOPS");
    std::ofstream(dir_ / "setup" / "dbinstall.ini", std::ios::binary)
        << "[database]\ndatabasename=shopdb\ndataname=shop_data\nlogname=shop_log\n";
    return disk;
  }

  // A machine with SQL Server 7.0 on the stand-in's disk.
  std::string machine_7(const StandinServer& server) {
    const std::string disk = server_path(server.files_root());
    fs::create_directories(server.files_root() + "/MSSQL7/Data");
    reg_add(View::Bits32, "HKLM\\Software\\Microsoft\\MSSQLServer\\Setup", "SQLDataRoot", "REG_SZ",
            disk + "\\MSSQL7");
    reg_add(View::Bits32, "HKLM\\Software\\Microsoft\\MSSQLServer\\MSSQLServer", "DefaultDomain",
            "REG_SZ", "SHOPS");
    return disk;
  }

  fs::path dir_;
  std::string cli_;
};

const nlohmann::json* find_named(const nlohmann::json& list, const std::string& name) {
  for (const auto& item : list)
    if (item.value("name", "") == name) return &item;
  return nullptr;
}

// The database `name` exists with its two files in `folder` (a server path
// ending in a backslash), created on the stand-in's disk; the login zq holds
// the three roles with `name` as its default database; "allow updates" is off
// again.
void expect_installed(const StandinServer& server, const std::string& name,
                      const std::string& folder, const std::string& dataname,
                      const std::string& logname) {
  const nlohmann::json state = server.state();
  const nlohmann::json* db = find_named(state["databases"], name);
  ASSERT_NE(db, nullptr) << state.dump(2);
  ASSERT_EQ((*db)["files"].size(), 2u) << db->dump(2);
  const auto& data = (*db)["files"][0];
  const auto& log = (*db)["files"][1];
  EXPECT_EQ(data["physical"], folder + name + "_Data.MDF");
  EXPECT_EQ(data["logical"], dataname);
  EXPECT_EQ(log["physical"], folder + name + "_Log.LDF");
  EXPECT_EQ(log["logical"], logname);
  for (const auto& file : {data, log}) {
    EXPECT_TRUE(file["on_disk"].get<bool>()) << file.dump();
    EXPECT_TRUE(fs::exists(file["local"].get<std::string>())) << file.dump();
  }

  const nlohmann::json* zq = find_named(state["logins"], "zq");
  ASSERT_NE(zq, nullptr) << state.dump(2);
  std::set<std::string> roles((*zq)["roles"].begin(), (*zq)["roles"].end());
  EXPECT_TRUE(roles.count("sysadmin") && roles.count("securityadmin") && roles.count("serveradmin"))
      << zq->dump();
  EXPECT_EQ((*zq)["default_database"], name);
  EXPECT_EQ(state["configuration"]["allow updates"]["value"], 0);
}

TEST_F(WineCli, Mss2000InstallsIntoTheChosenInstance) {
  // A password outside the ANSI code page reaches the server whole.
  StandinServer server({"--login", "sa:密码Secret:sysadmin"});
  const std::string disk = machine_2000(server);
  // dbinstall.ini in code page 936: databasename=商店.
  std::ofstream(dir_ / "setup" / "dbinstall.ini", std::ios::binary)
      << "[database]\r\ndatabasename=\xC9\xCC\xB5\xEA\r\ndataname=shop_data\r\nlogname=shop_"
         "log\r\n";
  const std::string backup = server.make_backup("shop", "shop_data", "shop_log");

  Result r = run_cli({"--edition", "mss2000", "--server", server.address(), "--instance", "SHOP",
                      "--backup", server_path(backup), "--yes"},
                     "密码Secret");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.last_line(), "数据库安装成功!") << r.out;
  // The instance's data folder comes from its registry entry in the 64-bit view.
  expect_installed(server, "商店", disk + "\\MSSQL$SHOP\\Data\\", "shop_data", "shop_log");
}

TEST_F(WineCli, Mss7InstallsTheNamedDatabase) {
  StandinServer server;
  const std::string disk = machine_7(server);
  const std::string backup = server.make_backup("retail", "retail_data", "retail_log");
  Result r = run_cli({"--edition", "mss7", "--server", server.address(), "--database", "零售库",
                      "--backup", server_path(backup), "--yes"},
                     "SECRET");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.last_line(), "数据库安装成功!") << r.out;
  expect_installed(server, "零售库", disk + "\\MSSQL7\\Data\\", "retail_data", "retail_log");
}

TEST_F(WineCli, FailuresEndWithTheirExitStatus) {
  StandinServer server;
  // No SQL Server 2000 in the registry: detection code -4.
  Result none = run_cli({"--server", server.address(), "--yes"}, "SECRET");
  EXPECT_EQ(none.status, 32 + 4) << none.out << none.err;
  for (const auto& entry : server.log()) EXPECT_NE(entry.value("type", ""), "login");

  // A backup file the server does not have: install code -10.
  machine_2000(server);
  Result missing = run_cli({"--server", server.address(), "--backup",
                            server_path(server.files_root() + "/missing.dat"), "--yes"},
                           "SECRET");
  EXPECT_EQ(missing.status, 10) << missing.out << missing.err;
  EXPECT_EQ(missing.last_line(), "装载数据失败!") << missing.out;
}

// The window installs through Wine's odbc32; during a restore spread over
// three seconds it keeps handling its timer (and so its painting) at least every
// 100 ms on average, and the progress bar moves.
TEST_F(WineCli, WindowInstallsBothEditions) {
  if (!has_window()) GTEST_SKIP() << "built without the window";
  {
    StandinServer server({"--restore-seconds", "3"});
    const std::string disk = machine_2000(server);
    const std::string backup = server.make_backup("shop", "shop_data", "shop_log");
    WindowRun run = run_window("mss2000", server.address(), server_path(backup));
    ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
    EXPECT_EQ(run.status, "数据库安装成功!");
    ASSERT_FALSE(run.boxes.empty());
    EXPECT_EQ(run.boxes.back(), "数据库安装成功!");
    // At least one tick per 100 ms over the install, and no pause near the
    // restore's three seconds (a one-off stall of a loaded machine is allowed).
    EXPECT_GE(run.span, 3000) << run.result.out;
    EXPECT_GE(run.ticks * 100, run.span) << run.result.out;
    EXPECT_LT(run.gap, 1500) << run.result.out;
    ASSERT_GE(run.progress.size(), 3u) << run.result.out;
    EXPECT_TRUE(std::is_sorted(run.progress.begin(), run.progress.end()));
    EXPECT_GT(run.progress.back(), run.progress.front());
    expect_installed(server, "shopdb", disk + "\\MSSQL\\Data\\", "shop_data", "shop_log");
  }
  StandinServer server;
  const std::string disk = machine_7(server);
  const std::string backup = server.make_backup("retail", "retail_data", "retail_log");
  WindowRun run = run_window("mss7", server.address(), server_path(backup), "零售库");
  ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
  EXPECT_EQ(run.status, "数据库安装成功!");
  expect_installed(server, "零售库", disk + "\\MSSQL7\\Data\\", "retail_data", "retail_log");
}

// A failed restore: the server's text ends the message box, the short text
// stays in the status line, and the install button stays available.
TEST_F(WineCli, WindowShowsTheServersTextWhenTheRestoreFails) {
  if (!has_window()) GTEST_SKIP() << "built without the window";
  StandinServer server({"--restore-fail-at", "40"});
  machine_2000(server);
  const std::string backup = server.make_backup("shop", "shop_data", "shop_log");
  WindowRun run = run_window("mss2000", server.address(), server_path(backup));
  ASSERT_EQ(run.result.status, 0) << run.result.out << run.result.err;
  EXPECT_EQ(run.status, "装载数据失败!");
  ASSERT_FALSE(run.boxes.empty());
  const std::string& box = run.boxes.back();
  EXPECT_EQ(box.rfind("装载数据失败!   错误信息:", 0), 0u) << box;  // one line per box
  EXPECT_NE(box.find("Data error (cyclic redundancy check)"), std::string::npos) << box;
}

}  // namespace
}  // namespace dbsetup::testing
