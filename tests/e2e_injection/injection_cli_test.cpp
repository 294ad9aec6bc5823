// The administrator password through db_setup_cli, run as the operator runs
// it: from the program's folder, the password in DB_SETUP_PASSWORD. With the
// right password the install goes through; a wrong one (the right one cut
// short where the payload begins, and the login the brace payload names with
// it) fails as a password: a driver that cut the password, or read a second
// login out of it, would get in. Neither ever shows on standard output or
// standard error.

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
  std::string plain = password;
  std::erase(plain, '\r');
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

  for (bool right : {true, false}) {
    SCOPED_TRACE(right ? "the right password" : "a wrong password");
    const std::string known = right ? password : p.text.empty() ? password.substr(0, 128) : "pw";
    std::vector<std::string> logins = {"--login", "sa:" + known + ":sysadmin"};
    std::vector<std::string> args = {DB_SETUP_CLI_BINARY, "--yes"};
    if (!right) {
      logins.insert(logins.end(), {"--login", "zq:" + known});
      args.insert(args.end(), {"--edition", "mss7", "--database", "nuvex"});
    }
    StandinServer server(logins);
    args.insert(args.end(), {"--server", server.address(), "--data-folder", server.files_root(),
                             "--backup", server.make_backup("nuvex", "nuvex_Data", "nuvex_Log")});
    const Finished f = testing::run_child(
        args, folder.dir.path(),
        {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=" + password});
    EXPECT_FALSE(shows(f.out + f.err, password)) << "the password showed";
    EXPECT_EQ(f.status, right && !refused ? 0 : 1) << f.out << f.err;
    const auto logons = server.logons();
    if (right && !refused) {
      EXPECT_NE(f.out.find("数据库安装成功!"), std::string::npos) << f.out;
      ASSERT_FALSE(logons.empty());
      EXPECT_EQ(logons[0]["user"], "sa");
      EXPECT_EQ(logons[0]["ok"], true);
      continue;
    }
    // The 7.0 edition's box: the failure line, then the reason or the
    // server's text.
    EXPECT_TRUE(right || f.err.find("连接数据库失败!\n\n错误信息:") != std::string::npos) << f.err;
    if (refused) {
      EXPECT_TRUE(server.log().empty());
      const std::string reason = p.text.empty() ? "128 characters" : "\"};\"";
      EXPECT_TRUE(right || f.err.find(reason) != std::string::npos) << f.err;
      continue;
    }
    EXPECT_NE(f.err.find("Login failed for user 'sa'."), std::string::npos) << f.err;
    EXPECT_FALSE(logons.empty());
    for (const auto& l : logons) {
      EXPECT_EQ(l["user"], "sa");
      EXPECT_EQ(l["ok"], false);
      EXPECT_EQ(l["errors"], json({18456}));
    }
    EXPECT_TRUE(server.statements().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, CliPassword, ::testing::ValuesIn(kConnectionPayloads),
                         [](const ::testing::TestParamInfo<Payload>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace dbsetup::injection
