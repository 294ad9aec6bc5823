// db_setup_cli on a terminal, interrupted at each moment of an install, and
// losing its terminal halfway: the exit status, what the terminal showed and
// what the server saw.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "cli/pty_child.h"
#include "support/child_process.h"
#include "support/standin_process.h"

namespace dbsetup::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool in_order(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const auto& p : parts) {
    if ((at = text.find(p, at)) == std::string::npos) return false;
    at += p.size();
  }
  return true;
}

// What the server saw: how many RECONFIGUREs, and the database's status
// ("ONLINE", "RESTORING"; empty: none, and nothing was executed at all).
void expect_server(const StandinServer& server, size_t reconfigures, const std::string& status) {
  EXPECT_EQ(server.count("RECONFIGURE"), reconfigures);
  std::string have;
  for (const auto& db : server.state().value("databases", nlohmann::json::array()))
    if (db.value("name", "") == "nuvex") have = db.value("status", "");
  EXPECT_EQ(have, status);
  EXPECT_TRUE(!status.empty() || server.statements().empty());
}

PtyChild install(StandinServer& server, const ProgramFolder& folder) {
  return PtyChild(install_args(server), folder.dir.path(),
                  {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=SECRET",
                   "DB_SETUP_LOGIN_TIMEOUT=60", "DB_SETUP_SILENCE_TIMEOUT=120"});
}

// A moment of the install at which the operator interrupts it.
struct Moment {
  const char* name;
  std::vector<std::string> server_args;
  const char* reached;  // the terminal shows it when the moment has come
  std::chrono::milliseconds settle;
  // Output stopped (Ctrl-S) when `reached` shows: the run blocks at its next
  // line, the success status after the last statement; Ctrl-Q after the
  // interrupt lets it go on.
  bool stop_output;
  int status;
  std::chrono::seconds within;  // from the interrupt to the end
  std::vector<std::string> shown_after;
  size_t reconfigures;
  const char* db_status;
  const char* restore_outcome;  // the restore's in the server's log; nullptr: not checked
};

void interrupt_at(const Moment& m, const ProgramFolder& folder) {
  for (int attempt = 1;; ++attempt) {
    StandinServer server(m.server_args);
    PtyChild cli = install(server, folder);
    ASSERT_TRUE(
        cli.read_until([&](const std::string& s) { return s.find(m.reached) != s.npos; }, 90s))
        << cli.seen;
    if (m.stop_output) {
      cli.type("\x13");
      for (const auto until = Clock::now() + 60s;
           Clock::now() < until && server.count("RECONFIGURE") < 2;)
        std::this_thread::sleep_for(20ms);
      cli.read_until({}, 300ms);
      // Too late when the success status came before the output stopped.
      if (cli.shows("数据库安装成功!") || !cli.running()) {
        ASSERT_LT(attempt, 3) << "the output never stopped in time: " << cli.seen;
        continue;
      }
    }
    std::this_thread::sleep_for(m.settle);
    const std::size_t before = cli.seen.size();
    ASSERT_TRUE(cli.running()) << cli.seen;
    ::kill(cli.pid, SIGINT);
    const auto interrupted = Clock::now();
    if (m.stop_output) {
      std::this_thread::sleep_for(1s);
      cli.type("\x11");
    }
    ASSERT_TRUE(cli.wait(m.within)) << "still running: " << cli.seen;
    EXPECT_LE(Clock::now() - interrupted, m.within);
    EXPECT_EQ(cli.exit_status(), m.status) << "wait status " << cli.status << "\n" << cli.seen;
    EXPECT_TRUE(in_order(cli.seen.substr(before), m.shown_after)) << cli.seen;
    if (m.status != 0) {
      EXPECT_FALSE(cli.shows("数据库安装成功!")) << cli.seen;
    }
    expect_server(server, m.reconfigures, m.db_status);
    if (m.restore_outcome) {
      EXPECT_TRUE(restore_ended(server, m.restore_outcome));
      ASSERT_FALSE(server.log().empty());
      EXPECT_EQ(server.log().back().value("type", ""), "disconnect");  // the failure exit's logoff
    }
    return;
  }
}

// Before the first logon has succeeded, nothing has changed on the server
// and the program ends at once; a restore the server cancels ends with the
// failure exit's logoff, one whose server does not answer the cancel keeps
// it 10 seconds at most; an install that finished stays so.
TEST(CliInterrupt, EndsAtEachMomentAsWhatHasHappenedOnTheServerAllows) {
  // The login timeout is 60 s, the silence timeout 120 s.
  // clang-format off
  const std::vector<Moment> moments = {
      {"during a logon the server never answers", {"--silent-logon"}, "准备连接数据库...",
       500ms, false, 130, 15s, {"db_setup_cli: interrupted"}, 0, "", nullptr},
      {"during a restore the server cancels", {"--restore-seconds", "60"}, "装载进度: 10%", 0ms,
       false, 130, 30s, {"装载数据失败!", "错误信息:", "db_setup_cli: interrupted"}, 0, "RESTORING",
       "cancelled"},
      {"during a restore the server no longer answers",
       {"--restore-seconds", "10", "--stall-restore-at", "10"}, "装载进度: 10%", 1s, false, 130,
       40s, {"Marlox零售管理系统安装: 装载数据失败!", "RESTORING", "装载数据失败!",
             "db_setup_cli: interrupted"}, 0, "RESTORING", nullptr},
      {"after the last statement", {}, "配置数据库...", 0ms, true, 0, 30s,
       {"数据库安装成功!", "数据库安装成功!"}, 2, "ONLINE", nullptr},
  };
  // clang-format on
  ProgramFolder folder;
  for (const Moment& m : moments) {
    SCOPED_TRACE(m.name);
    interrupt_at(m, folder);
  }
}

// The terminal closes (SIGHUP) during the restore: nobody sees the rest, but
// the install goes on to its end.
TEST(CliHangUp, TheInstallGoesOnToItsEndWithoutItsTerminal) {
  ProgramFolder folder;
  StandinServer server({"--restore-seconds", "6"});
  PtyChild cli = install(server, folder);
  ASSERT_TRUE(cli.read_until(
      [](const std::string& s) { return s.find("装载进度: 10%") != std::string::npos; }, 90s))
      << cli.seen;
  cli.hang_up();
  ASSERT_TRUE(cli.wait(90s));
  EXPECT_EQ(cli.exit_status(), 0) << "wait status " << cli.status;
  expect_server(server, 2, "ONLINE");
  EXPECT_EQ(server.log().back().value("type", ""), "disconnect");
}

}  // namespace
}  // namespace dbsetup::testing
