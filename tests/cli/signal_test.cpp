// db_setup_cli on a terminal, interrupted at each moment of an install, and
// losing its terminal halfway: the exit status, what the terminal showed and
// what the server saw.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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

size_t count_statements(const StandinServer& server, const std::string& prefix) {
  size_t n = 0;
  for (const auto& s : server.statements()) n += s.rfind(prefix, 0) == 0;
  return n;
}

// The restore's outcome in the server's log ("ok", "cancelled"); the log
// entry is written when the statement ends, which may come a moment after
// the client has gone.
bool restore_ended(const StandinServer& server, const char* how) {
  for (const auto until = Clock::now() + 10s; Clock::now() < until;
       std::this_thread::sleep_for(50ms))
    for (const auto& e : server.log())
      if (e.value("statement", "").rfind("RESTORE DATABASE", 0) == 0 && e.contains("outcome"))
        return e["outcome"].value(how, false);
  return false;
}

// The database's status in the server's state ("ONLINE", "RESTORING"), empty
// when there is none.
std::string database_status(const StandinServer& server, const std::string& name) {
  for (const auto& db : server.state().value("databases", nlohmann::json::array()))
    if (db.value("name", "") == name) return db.value("status", "");
  return {};
}

bool in_order(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const auto& p : parts) {
    at = text.find(p, at);
    if (at == std::string::npos) return false;
    at += p.size();
  }
  return true;
}

struct Running {
  StandinServer& server;
  PtyChild& cli;
};

// One moment of the run at which the operator interrupts it.
struct Moment {
  const char* name;
  std::vector<std::string> server_args;
  std::vector<std::string> cli_args;  // besides the server, data folder and backup
  const char* reached;                // the terminal shows this when the moment has come
  // Brings the run to the moment once `reached` shows; false when it went
  // past it (the run is then tried again).
  std::function<bool(Running&)> hold = [](Running&) { return true; };
  std::function<void(Running&)> release = [](Running&) {};
  int status;
  std::chrono::seconds within;  // from the interrupt to the end
  std::vector<std::string> shown_after;
  std::function<void(const StandinServer&)> server_saw;
};

// Runs an install up to the moment, interrupts it there and checks the end.
void interrupt_at(const Moment& m, const ProgramFolder& folder) {
  for (int attempt = 1;; ++attempt) {
    StandinServer server(m.server_args);
    std::vector<std::string> args = {DB_SETUP_CLI_BINARY,
                                     "--server",
                                     server.address(),
                                     "--data-folder",
                                     server.files_root(),
                                     "--backup",
                                     server.make_backup("nuvex", "nuvex_Data", "nuvex_Log")};
    args.insert(args.end(), m.cli_args.begin(), m.cli_args.end());
    PtyChild cli(args, folder.dir.path(),
                 {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=SECRET",
                  "DB_SETUP_LOGIN_TIMEOUT=60", "DB_SETUP_SILENCE_TIMEOUT=120"});
    ASSERT_TRUE(
        cli.read_until([&](const std::string& s) { return s.find(m.reached) != s.npos; }, 90s))
        << cli.seen;
    Running run{server, cli};
    if (!m.hold(run)) {
      ASSERT_LT(attempt, 3) << "the moment never held: " << cli.seen;
      continue;
    }
    const std::size_t before = cli.seen.size();
    ASSERT_TRUE(cli.running()) << cli.seen;
    ::kill(cli.pid, SIGINT);
    const auto interrupted = Clock::now();
    m.release(run);
    ASSERT_TRUE(cli.wait(m.within)) << "still running: " << cli.seen;
    EXPECT_LE(Clock::now() - interrupted, m.within);
    EXPECT_EQ(cli.exit_status(), m.status) << "wait status " << cli.status << "\n" << cli.seen;
    EXPECT_TRUE(in_order(cli.seen.substr(before), m.shown_after)) << cli.seen;
    if (m.status == 130) {
      EXPECT_FALSE(cli.shows("数据库安装成功!")) << cli.seen;
    }
    m.server_saw(server);
    return;
  }
}

TEST(CliInterrupt, EndsAtEachMomentAsWhatHasHappenedOnTheServerAllows) {
  const std::vector<Moment> moments = {
      {.name = "before the logon, at a question",
       .server_args = {},
       .cli_args = {"--edition", "mss7", "--database", "nuvex"},
       .reached = "[y/n] ",
       .status = 130,
       .within = 10s,
       .shown_after = {"db_setup_cli: interrupted"},
       .server_saw = [](const StandinServer& s) { EXPECT_TRUE(s.log().empty()); }},
      {.name = "during a logon the server never answers",
       .server_args = {"--silent-logon"},
       .cli_args = {"--yes"},
       .reached = "准备连接数据库...",
       .hold =
           [](Running&) {
             std::this_thread::sleep_for(500ms);  // inside the logon
             return true;
           },
       .status = 130,
       .within = 15s,  // the login timeout is 60 s
       .shown_after = {"db_setup_cli: interrupted"},
       .server_saw = [](const StandinServer& s) { EXPECT_TRUE(s.statements().empty()); }},
      {.name = "during a restore the server no longer answers",
       .server_args = {"--restore-seconds", "10", "--stall-restore-at", "10"},
       .cli_args = {"--yes"},
       .reached = "装载进度: 10%",
       .hold =
           [](Running&) {
             std::this_thread::sleep_for(1s);  // the server has gone silent
             return true;
           },
       .status = 130,
       .within = 40s,  // the cancel is given 10 s; the silence timeout is 120 s
       .shown_after = {"Marlox零售管理系统安装: 装载数据失败!", "RESTORING", "装载数据失败!",
                       "db_setup_cli: interrupted"},
       .server_saw =
           [](const StandinServer& s) {
             EXPECT_TRUE(restore_ended(s, "cancelled"));
             EXPECT_EQ(count_statements(s, "sp_configure"), 0u);
             EXPECT_EQ(database_status(s, "nuvex"), "RESTORING");
           }},
      {.name = "after the last statement",
       .server_args = {},
       .cli_args = {"--yes"},
       .reached = "配置数据库...",
       // Output stopped (Ctrl-S): the run blocks at its next line, the
       // success status after the last statement.
       .hold =
           [](Running& r) {
             r.cli.type("\x13");
             for (const auto until = Clock::now() + 60s;
                  Clock::now() < until && count_statements(r.server, "RECONFIGURE") < 2;)
               std::this_thread::sleep_for(20ms);
             std::this_thread::sleep_for(200ms);
             r.cli.read_until([](const std::string&) { return false; }, 100ms);
             return count_statements(r.server, "RECONFIGURE") == 2 &&
                    !r.cli.shows("数据库安装成功!") && r.cli.running();
           },
       .release =
           [](Running& r) {
             std::this_thread::sleep_for(1s);
             r.cli.type("\x11");  // Ctrl-Q
           },
       .status = 0,
       .within = 30s,
       .shown_after = {"数据库安装成功!", "数据库安装成功!"},
       .server_saw =
           [](const StandinServer& s) {
             EXPECT_TRUE(restore_ended(s, "ok"));
             ASSERT_FALSE(s.log().empty());
             EXPECT_EQ(s.log().back().value("type", ""), "disconnect");
           }},
  };

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
  PtyChild cli(
      {DB_SETUP_CLI_BINARY, "--server", server.address(), "--data-folder", server.files_root(),
       "--backup", server.make_backup("nuvex", "nuvex_Data", "nuvex_Log"), "--yes"},
      folder.dir.path(), {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=SECRET"});
  ASSERT_TRUE(cli.read_until(
      [](const std::string& s) { return s.find("装载进度: 10%") != std::string::npos; }, 90s))
      << cli.seen;
  cli.hang_up();
  ASSERT_TRUE(cli.wait(90s));
  EXPECT_EQ(cli.exit_status(), 0) << "wait status " << cli.status;
  EXPECT_TRUE(restore_ended(server, "ok"));
  EXPECT_EQ(count_statements(server, "RECONFIGURE"), 2u);
  ASSERT_FALSE(server.log().empty());
  EXPECT_EQ(server.log().back().value("type", ""), "disconnect");
  EXPECT_EQ(database_status(server, "nuvex"), "ONLINE");
}

}  // namespace
}  // namespace dbsetup::testing
