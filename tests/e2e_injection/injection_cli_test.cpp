// The administrator password through db_setup_cli, run as the operator runs
// it: from the program's folder, the password in DB_SETUP_PASSWORD. With the
// right password the install goes through; a wrong one (the right one cut
// short where the payload begins) fails as a password. Neither ever shows on
// standard output or standard error.

#include <gtest/gtest.h>

#include <string>

#include "e2e_injection/injection_matrix.h"
#include "support/child_process.h"
#include "support/standin_process.h"

namespace dbsetup::injection {
namespace {

using nlohmann::json;
using testing::Finished;
using testing::ProgramFolder;
using testing::StandinServer;

// The password as the front end could have printed it: whole, or without
// the carriage returns it drops from message texts.
bool shows(const std::string& output, const std::string& password) {
  std::string plain;
  for (char c : password)
    if (c != '\r') plain += c;
  return output.find(password) != std::string::npos || output.find(plain) != std::string::npos;
}

class CliPassword : public ::testing::TestWithParam<Payload> {};

TEST_P(CliPassword, LogsOnOrFailsAsAPasswordAndNeverShows) {
  const Payload& p = GetParam();
  const std::string password = embed(p, "pw", "sec");
  // SQL Server takes no password over 128 characters and FreeTDS none with
  // "};": the front end refuses those before anything is sent.
  const bool refused = p.text.empty() || p.text.find("};") != std::string::npos;
  ProgramFolder folder;

  {
    SCOPED_TRACE("the right password");
    StandinServer server({"--login", "sa:" + password + ":sysadmin"});
    const std::string backup = server.make_backup("nuvex", "nuvex_Data", "nuvex_Log");
    const Finished f = testing::run_child(
        {DB_SETUP_CLI_BINARY, "--server", server.address(), "--data-folder", server.files_root(),
         "--backup", backup, "--yes"},
        folder.dir.path(),
        {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=" + password});
    EXPECT_FALSE(shows(f.out + f.err, password)) << "the password showed";
    const auto log = server.log();
    if (refused) {
      EXPECT_EQ(f.status, 1) << f.err;
      EXPECT_TRUE(log.empty());
    } else {
      EXPECT_EQ(f.status, 0) << f.out << f.err;
      EXPECT_NE(f.out.find("数据库安装成功!"), std::string::npos) << f.out;
      ASSERT_FALSE(log.empty());
      json first;
      for (const auto& e : log)
        if (e.value("type", "") == "login" && first.is_null()) first = e;
      EXPECT_EQ(first["user"], "sa");
      EXPECT_EQ(first["ok"], true);
    }
  }
  {
    SCOPED_TRACE("a wrong password");
    const std::string cut = p.text.empty() ? password.substr(0, 128) : "pw";
    StandinServer server({"--login", "sa:" + cut + ":sysadmin", "--login", "zq:" + cut});
    const std::string backup = server.make_backup("nuvex", "nuvex_Data", "nuvex_Log");
    const Finished f = testing::run_child(
        {DB_SETUP_CLI_BINARY, "--edition", "mss7", "--database", "nuvex", "--server",
         server.address(), "--data-folder", server.files_root(), "--backup", backup, "--yes"},
        folder.dir.path(),
        {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=" + password});
    EXPECT_EQ(f.status, 1) << f.out << f.err;
    EXPECT_FALSE(shows(f.out + f.err, password)) << "the password showed";
    // The message box: the failure line, then the server's or driver's text.
    EXPECT_NE(f.err.find("连接数据库失败!\n\n错误信息:"), std::string::npos) << f.err;
    const auto log = server.log();
    if (refused) {
      EXPECT_TRUE(log.empty());
    } else {
      EXPECT_NE(f.err.find("Login failed for user 'sa'."), std::string::npos) << f.err;
      int logins = 0;
      for (const auto& e : log) {
        if (e.value("type", "") != "login") continue;
        ++logins;
        EXPECT_EQ(e["user"], "sa");
        EXPECT_EQ(e["ok"], false);
        EXPECT_EQ(e["errors"], json({18456}));
      }
      EXPECT_GE(logins, 1);
      for (const auto& e : log) EXPECT_FALSE(e.contains("statement")) << e.dump();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, CliPassword, ::testing::ValuesIn(kConnectionPayloads),
                         [](const ::testing::TestParamInfo<Payload>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace dbsetup::injection
