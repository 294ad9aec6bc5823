// db_setup_cli.exe and the Win32 window end to end under Wine, run from the
// Linux side by the cross build's ctest: the registry written with `wine reg
// add`, and the SQL Server stand-in reached through Wine's odbc32, unixODBC
// and FreeTDS. Needs DB_SETUP_WINE_CLI and a booted WINEPREFIX.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_install/expected_install.h"
#include "support/child_process.h"

namespace dbsetup::testing {
namespace {

namespace fs = std::filesystem;

// The output's last line, without its CR.
std::string last_line(const Finished& run) {
  std::string out = run.out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out.substr(out.find_last_of('\n') + 1);
}

class WineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* cli = std::getenv("DB_SETUP_WINE_CLI");
    const char* prefix = std::getenv("WINEPREFIX");
    ASSERT_TRUE(cli && fs::exists(cli)) << "DB_SETUP_WINE_CLI must name db_setup_cli.exe";
    ASSERT_TRUE(prefix && fs::exists(fs::path(prefix) / "drive_c"))
        << "WINEPREFIX must name a booted prefix";
    cli_ = cli;

    dir_ = tmp_.path();
    fs::create_directories(dir_ / "setup");

    // Every test starts without SQL Server keys, in either view.
    for (const char* key : {"HKLM\\SOFTWARE\\Microsoft\\MSSQLServer",
                            "HKLM\\SOFTWARE\\Microsoft\\Microsoft SQL Server"})
      for (const char* view : {"/reg:32", "/reg:64"}) wine({"reg", "delete", key, "/f", view});
  }

  // Runs `wine ARGS...` in `cwd` with empty standard input, for at most
  // `seconds` (status -1 when the limit struck); `env` holds NAME=value.
  Finished wine(std::vector<std::string> args, const fs::path& cwd = "/",
                const std::vector<std::string>& env = {}, int seconds = 60) {
    args.insert(args.begin(), {"/usr/bin/env", "wine"});
    return run_child(args, cwd.string(), env, std::chrono::seconds(seconds));
  }

  // `view` is /reg:32 or /reg:64.
  void reg_add(const char* view, const std::string& key, const std::string& name,
               const std::string& type, const std::string& data) {
    Finished r = wine({"reg", "add", key, "/v", name, "/t", type, "/d", data, "/f", view});
    ASSERT_EQ(r.status, 0) << key << " " << name << "\n" << r.out << r.err;
  }

  Finished run_cli(std::vector<std::string> args, const std::string& password) {
    args.insert(args.begin(), cli_);
    return wine(args, dir_ / "setup",
                {"DB_SETUP_PASSWORD=" + password, "DB_SETUP_ODBC_DRIVER=FreeTDS"});
  }

  // What win32_window_e2e.cpp's window, run in the setup folder with these
  // field values, printed: each line by its label (BOX: the last box), its
  // exit status as EXIT and all its output as OUT.
  std::map<std::string, std::string> run_window(const std::string& edition,
                                                const std::string& server,
                                                const std::string& backup,
                                                const std::string& database = "") {
    Finished r =
        wine({std::getenv("DB_SETUP_WINE_WINDOW_TESTS"), "--gtest_filter=Win32WindowE2E.*"},
             dir_ / "setup",
             {"DB_SETUP_ODBC_DRIVER=FreeTDS", "DB_SETUP_E2E_SERVER=" + server,
              "DB_SETUP_E2E_EDITION=" + edition, "DB_SETUP_E2E_PASSWORD=SECRET",
              "DB_SETUP_E2E_BACKUP=" + backup, "DB_SETUP_E2E_DATABASE=" + database},
             120);
    std::map<std::string, std::string> seen{{"EXIT", std::to_string(r.status)},
                                            {"OUT", r.out + r.err}};
    std::istringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos && colon + 1 < line.size())
        seen[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return seen;
  }

  // A machine with SQL Server 7.0 (edition "mss7") or 2000 on the stand-in's
  // disk. SQL Server 2000 also has the instance list in the 32-bit view, as it
  // writes it, the named instance SHOP only in the 64-bit view, and
  // dbinstall.ini naming shopdb.
  void machine(const StandinServer& server, const std::string& edition) {
    // The server runs on Linux here: its folders are its own paths, to which
    // the installer joins file names with backslashes, read as slashes (as
    // SQL Server on Linux reads them).
    const std::string disk = server.files_root();
    const std::string folder = edition == "mss7" ? "MSSQL7" : "MSSQL";
    fs::create_directories(server.files_root() + "/" + folder + "/Data");
    const std::string ms = "HKLM\\SOFTWARE\\Microsoft\\";
    reg_add("/reg:32", ms + "MSSQLServer\\Setup", "SQLDataRoot", "REG_SZ", disk + "\\" + folder);
    reg_add("/reg:32", ms + "MSSQLServer\\MSSQLServer", "DefaultDomain", "REG_SZ", "SHOPS");
    if (edition == "mss7") return;
    fs::create_directories(server.files_root() + "/MSSQL$SHOP/Data");
    const std::string sql = ms + "Microsoft SQL Server";
    reg_add("/reg:32", sql, "InstalledInstances", "REG_MULTI_SZ", "MSSQLSERVER\\0SHOP");
    reg_add("/reg:64", sql + "\\SHOP\\Setup", "SQLDataRoot", "REG_SZ", disk + "\\MSSQL$SHOP");
    reg_add("/reg:64", sql + "\\SHOP\\MSSQLServer", "DefaultDomain", "REG_SZ", "SHOPS");
    std::ofstream(dir_ / "setup" / "dbinstall.ini", std::ios::binary)
        << "[database]\ndatabasename=shopdb\ndataname=shop_data\nlogname=shop_log\n";
  }

  TempDir tmp_;
  fs::path dir_;
  std::string cli_;
};

// A backup on the server's disk holding the files `stem`_data and `stem`_log,
// as the Windows program names it.
std::string backup_of(StandinServer& server, const std::string& stem) {
  return server.make_backup(stem, stem + "_data", stem + "_log");
}

// `name` installed from backup_of(`stem`) into `folder` below the server's disk.
void expect_installed(const StandinServer& server, const std::string& name,
                      const std::string& folder, const std::string& stem) {
  // dbname, folder, backup (not checked), dataname, logname.
  expect_installed(server, {name, server.files_root() + folder, "", stem + "_data", stem + "_log"});
}

TEST_F(WineCli, Mss2000InstallsIntoTheChosenInstance) {
  // A password outside the ANSI code page reaches the server whole.
  StandinServer server({"--login", "sa:密码Secret:sysadmin"});
  machine(server, "mss2000");
  // dbinstall.ini in code page 936: databasename=商店.
  std::ofstream(dir_ / "setup" / "dbinstall.ini", std::ios::binary)
      << "[database]\r\ndatabasename=\xC9\xCC\xB5\xEA\r\ndataname=shop_data\r\nlogname=shop_"
         "log\r\n";
  Finished r = run_cli({"--edition", "mss2000", "--server", server.address(), "--instance", "SHOP",
                        "--backup", backup_of(server, "shop"), "--yes"},
                       "密码Secret");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(last_line(r), "数据库安装成功!") << r.out;
  // The instance's data folder comes from its registry entry in the 64-bit view.
  expect_installed(server, "商店", "\\MSSQL$SHOP\\Data", "shop");
}

// SQL Server 7.0 and a Windows administrator: FreeTDS, behind Wine's odbc32,
// logs on with NTLM; the database named on the command line is installed.
TEST_F(WineCli, Mss7InstallsTheNamedDatabaseForAWindowsAdministrator) {
  StandinServer server({"--profile", "2022", "--windows-login", "SHOP\\admin:Adm1n!:sysadmin"});
  machine(server, "mss7");
  const std::string backup = server.make_backup("retail", "retail_data", "retail_log", "16.0");
  Finished r = run_cli({"--edition", "mss7", "--server", server.address(), "--login", "SHOP\\admin",
                        "--database", "零售库", "--backup", backup, "--yes"},
                       "Adm1n!");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(last_line(r), "数据库安装成功!") << r.out;
  EXPECT_EQ(server.logons().front()["user"], "SHOP\\admin");
  expect_installed(server, "零售库", "\\MSSQL7\\Data", "retail");
}

// The window installs through Wine's odbc32; during a restore spread over
// three seconds it keeps handling its timer (and so its painting) at least every
// 100 ms on average, the progress bar moves and the install button is greyed. A failed restore: the
// server's text ends the message box, the short text stays in the status line.
TEST_F(WineCli, WindowInstallsBothEditionsAndShowsTheServersText) {
  const char* exe = std::getenv("DB_SETUP_WINE_WINDOW_TESTS");
  if (!exe || !*exe) GTEST_SKIP() << "built without the window";
  {
    StandinServer server({"--restore-seconds", "3"});
    machine(server, "mss2000");
    auto run = run_window("mss2000", server.address(), backup_of(server, "shop"));
    ASSERT_EQ(run["EXIT"], "0") << run["OUT"];
    EXPECT_EQ(run["STATUS"], "数据库安装成功!");
    EXPECT_EQ(run["BOX"], "数据库安装成功!");
    // At least one tick per 100 ms over the install, and no pause near the
    // restore's three seconds (a one-off stall of a loaded machine is allowed).
    long ticks = 0, span = 0;
    std::sscanf(run["TICKS"].c_str(), "%ld in %ld", &ticks, &span);
    EXPECT_GE(span, 3000) << run["OUT"];
    EXPECT_GE(ticks * 100, span) << run["OUT"];
    EXPECT_LT(std::stol(run["GAP"]), 1500) << run["OUT"];
    std::istringstream values(run["PROGRESS"]);
    std::vector<int> progress;
    for (int p; values >> p;) progress.push_back(p);
    ASSERT_GE(progress.size(), 3u) << run["OUT"];
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GT(progress.back(), progress.front());
    EXPECT_EQ(run["BUTTON"], "greyed");
    expect_installed(server, "shopdb", "\\MSSQL\\Data", "shop");
  }
  {
    StandinServer server;
    machine(server, "mss7");
    auto run = run_window("mss7", server.address(), backup_of(server, "retail"), "零售库");
    ASSERT_EQ(run["EXIT"], "0") << run["OUT"];
    EXPECT_EQ(run["STATUS"], "数据库安装成功!");
    expect_installed(server, "零售库", "\\MSSQL7\\Data", "retail");
  }
  StandinServer server({"--restore-fail-at", "40"});
  machine(server, "mss2000");
  auto run = run_window("mss2000", server.address(), backup_of(server, "shop"));
  ASSERT_EQ(run["EXIT"], "0") << run["OUT"];
  EXPECT_EQ(run["STATUS"], "装载数据失败!");
  EXPECT_EQ(run["BOX"].rfind("装载数据失败!   错误信息:", 0), 0u)
      << run["BOX"];  // one line per box
  EXPECT_NE(run["BOX"].find("Data error (cyclic redundancy check)"), std::string::npos);
}

}  // namespace
}  // namespace dbsetup::testing
