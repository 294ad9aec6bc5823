// The two front ends as processes, started the way schedulers, pipelines and
// operators start them: descriptors closed or unread, interrupted during a
// statement or at the password prompt, and (the window) given Qt's options.

#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

TEST(CliProcess, InstallsWhateverBecameOfItsOutput) {
  for (Streams streams : {Streams::closed, Streams::unread}) {
    SCOPED_TRACE(streams == Streams::closed ? "stdout and stderr closed" : "pipes nobody reads");
    ProgramFolder folder;
    StandinServer server;
    ChildProcess c(install_args(server), folder.dir.path(),
                   {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=SECRET"}, streams);
    ASSERT_TRUE(c.finish(120s));
    EXPECT_EQ(c.exit_status(), 0) << "wait status " << c.status;
    EXPECT_TRUE(restore_ended(server, "ok"));
  }
}

// A restore that ignores the cancel: the interrupt waits for the server's
// answer (how it ends then: signal_test), another signal ends it at once.
// A cancel the server answers: signal_test.
TEST(CliProcess, WhileTheCancelIsUnansweredASecondSignalEndsTheProgram) {
  ProgramFolder folder;
  const std::vector<std::string> env = {"DB_SETUP_REGISTRY=" + folder.registry,
                                        "DB_SETUP_PASSWORD=SECRET", "DB_SETUP_SILENCE_TIMEOUT=120"};
  const auto restoring = [](const std::string& err) {
    return err.find("装载进度: 10%") != std::string::npos;
  };
  StandinServer server({"--restore-seconds", "10", "--stall-restore-at", "10"});
  ChildProcess c(install_args(server), folder.dir.path(), env);
  ASSERT_FALSE(c.finish(60s, restoring)) << c.err_text;
  std::this_thread::sleep_for(1s);  // the server has gone silent
  ::kill(c.pid, SIGINT);
  // The cancel waits for the server's answer; the first signal did not end it.
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(c.running()) << c.err_text;
  ::kill(c.pid, SIGTERM);
  ASSERT_TRUE(c.finish(10s));
  EXPECT_TRUE(WIFSIGNALED(c.status) && WTERMSIG(c.status) == SIGTERM) << c.status;
}

// Text at the process's edges. A server's or driver's text reaches the
// terminal with its control characters spelled out, whichever way it is
// printed: a box, or the line that gives the reason of a failed first logon.
// Arguments typed on a workstation whose code page is 936 come as GBK bytes;
// ones that decode neither way are refused before anything is sent.
TEST(CliProcess, ServerTextsShowEscapedAndArgumentsAreReadAsGbkOrRefused) {
  struct Case {
    std::vector<std::string> server_args, args;
    int status;
    std::string shown;     // on standard error, as the operator reads it
    const char* database;  // created on the server, or nullptr: nothing sent
  };
  const std::vector<Case> cases = {
      {{"--fail",
        "^RESTORE DATABASE:3201:\x1b[2J\x1b[H数据库安装成功!\x07\rfake\xc2\x9b"
        "2J\tend"},
       {},
       10,
       "装载数据失败!\n\n错误信息:\\x1b[2J\\x1b[H数据库安装成功!\\x07\\x0dfake\\u009b2J\tend",
       ""},
      {{"--fail-login", "^sa$:18456:Login failed\x1b]0;owned\x07 for 'sa'."},
       {},
       1,
       "db_setup_cli: 连接数据库失败: Login failed\\x1b]0;owned\\x07 for 'sa'.",
       ""},
      {{}, {"--edition", "mss7", "--database", "\xc9\xcc\xb5\xea"}, 0, "", "商店"},
      {{}, {"--edition", "mss7", "--database", "商店"}, 0, "", "商店"},  // UTF-8 stays as it is
      {{}, {"--edition", "mss7", "--database", "\xff\xfe"}, 64, "", nullptr},
      {{}, {"--login", "sa\x81"}, 64, "", nullptr},
  };
  ProgramFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown + (c.args.empty() ? "" : c.args.back()));
    StandinServer server(c.server_args);
    std::vector<std::string> args = install_args(server);
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Finished f =
        run_child(args, folder.dir.path(),
                  {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=SECRET"});
    EXPECT_EQ(f.status, c.status) << f.out << f.err;
    EXPECT_NE(f.err.find(c.shown), std::string::npos) << f.err;
    for (const std::string raw : {"\x1b", "\x07", "\r", "\xc2\x9b"})
      EXPECT_EQ((f.out + f.err).find(raw), std::string::npos) << f.err;
    if (!c.database) {
      EXPECT_TRUE(server.log().empty());
    } else if (*c.database) {
      EXPECT_NE(server.state().dump().find("\"name\":\"" + std::string(c.database) + "\""),
                std::string::npos);
    }
  }
}

// Ctrl-C and Ctrl-D typed at the password prompt on a terminal.
TEST(CliProcess, ThePasswordPromptGivesUpCleanlyAndRestoresTheTerminal) {
  for (const auto& [typed, status] : {std::pair{"\x03", 130}, std::pair{"\x04", 64}}) {
    SCOPED_TRACE(status);
    ProgramFolder folder;
    PtyChild cli({DB_SETUP_CLI_BINARY}, folder.dir.path(),
                 {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD"});
    // The prompt, with the echo off.
    termios t{};
    cli.read_until(
        [&](const std::string& seen) {
          return seen.find("管理员密码: ") != std::string::npos &&
                 ::tcgetattr(cli.master(), &t) == 0 && !(t.c_lflag & ECHO);
        },
        30s);
    ASSERT_FALSE(t.c_lflag & ECHO) << cli.seen;
    cli.type(typed);
    ASSERT_TRUE(cli.wait(10s));
    EXPECT_EQ(cli.exit_status(), status) << cli.status;
    ASSERT_EQ(::tcgetattr(cli.master(), &t), 0);
    EXPECT_TRUE(t.c_lflag & ECHO);
  }
}

#ifdef DB_SETUP_WINDOW_BINARY
// Started with no standard descriptors and Qt's own options, the window
// opens /dev/null on the descriptors and takes none of the options: here an
// unknown platform plugin would end it at once. It stays at its message box
// (no SQL Server found) until killed.
TEST(WindowProcess, OpensItsStandardDescriptorsAndLeavesQtOptionsAlone) {
  TempDir dir;
  ChildProcess c({DB_SETUP_WINDOW_BINARY, "-platform", "no_such_plugin", "-reverse"}, dir.path(),
                 {"QT_QPA_PLATFORM=offscreen", "DB_SETUP_REGISTRY=" + dir.file("none.reg")},
                 Streams::none);
  const std::string fd_dir = "/proc/" + std::to_string(c.pid) + "/fd/";
  // The runtime's start-up may hold a descriptor there for a moment.
  const auto on_null = [&] {
    std::error_code ec;
    for (int fd = 0; fd <= 2; ++fd)
      if (std::filesystem::read_symlink(fd_dir + std::to_string(fd), ec) != "/dev/null")
        return false;
    return true;
  };
  const auto until = Clock::now() + 30s;
  while (Clock::now() < until && c.running() && !on_null()) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(on_null());
  std::this_thread::sleep_for(3s);  // Qt refuses an unknown plugin well within that
  EXPECT_TRUE(c.running()) << "ended with wait status " << c.status;
}
#endif

}  // namespace
}  // namespace dbsetup::testing
