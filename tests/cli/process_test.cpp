// The two front ends as processes, started the way schedulers, pipelines and
// operators start them: descriptors closed or unread, interrupted during a
// statement or at the password prompt, and (the window) given Qt's options.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/standin_process.h"
#include "support/temp_files.h"

namespace dbsetup::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The program's folder: dbinstall.ini and a registry export with SQL Server
// 2000's default instance.
struct ProgramFolder {
  ProgramFolder() {
    dir.write("dbinstall.ini",
              "[database]\r\ndatabasename=nuvex\r\ndataname=nuvex_Data\r\nlogname=nuvex_Log\r\n");
    registry =
        dir.write("registry.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server]\r\n"
                  "\"InstalledInstances\"=" +
                      reg_multi_sz({"MSSQLSERVER"}) +
                      "\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLServer\\Setup]\r\n"
                      "\"SQLDataRoot\"=\"C:\\\\MSSQL\"\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer]\r\n"
                      "\"DefaultDomain\"=\"WG\"\r\n");
  }
  TempDir dir;
  std::string registry;
};

// How a child's standard output and error are set up.
enum class Streams { piped, closed, unread };

struct Child {
  pid_t pid = -1;
  int out = -1, err = -1;  // read ends when piped
  std::string out_text, err_text;
  int status = 0;  // as waitpid() gives it
  bool reaped = false;

  ~Child() {
    if (!reaped && pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    for (int fd : {out, err})
      if (fd >= 0) ::close(fd);
  }

  // Reads the pipes until the child has ended (true), `limit` has passed or
  // `watch`, shown standard error as it grows, says to stop (false).
  bool finish(std::chrono::milliseconds limit,
              const std::function<bool(const std::string&)>& watch = {}) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
      pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
      ::poll(fds, 2, 50);
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buf[4096];
        const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n > 0) {
          (i == 0 ? out_text : err_text).append(buf, static_cast<std::size_t>(n));
          if (i == 1 && watch && watch(err_text)) return false;
        } else {
          ::close(fds[i].fd);
          (i == 0 ? out : err) = -1;
        }
      }
      if (out < 0 && err < 0 && ::waitpid(pid, &status, WNOHANG) == pid) return reaped = true;
      if (out >= 0 || err >= 0) continue;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  int exit_status() const { return reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
  bool running() { return !reaped && ::waitpid(pid, &status, WNOHANG) == 0; }
};

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Runs `args` in `dir` with `env` set (an entry "NAME" without '=' unsets
// NAME), standard input on /dev/null.
void start(Child& c, std::vector<std::string> args, const std::string& dir,
           const std::vector<std::string>& env, Streams streams = Streams::piped) {
  int out[2], err[2];
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::pipe(err), 0);
  c.pid = ::fork();
  if (c.pid == 0) {
    for (const auto& e : env) {
      const auto eq = e.find('=');
      if (eq == std::string::npos)
        ::unsetenv(e.c_str());
      else
        ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (int fd : {null, out[0], out[1], err[0], err[1]}) ::close(fd);
    if (streams == Streams::closed) {
      ::close(1);
      ::close(2);
    }
    auto argv = c_strings(args);
    if (::chdir(dir.c_str()) == 0) ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  c.out = out[0];
  c.err = err[0];
  if (streams == Streams::unread) {
    // Nobody reads: every write of the child meets a closed pipe.
    ::close(c.out);
    ::close(c.err);
    c.out = c.err = -1;
  }
}

// db_setup_cli installing into `server` with every question answered Yes.
std::vector<std::string> install_args(StandinServer& server) {
  const std::string backup = server.make_backup("nuvex", "nuvex_Data", "nuvex_Log");
  return {DB_SETUP_CLI_BINARY, "--server", server.address(), "--data-folder",
          server.files_root(), "--backup", backup,           "--yes"};
}

std::string last_line(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  const auto cut = t.rfind('\n');
  return cut == std::string::npos ? t : t.substr(cut + 1);
}

bool restored(const StandinServer& server) {
  for (const auto& e : server.log())
    if (e.value("statement", "").rfind("RESTORE DATABASE", 0) == 0)
      return e["outcome"].value("ok", false);
  return false;
}

TEST(CliProcess, InstallsWhateverBecameOfItsOutput) {
  for (Streams streams : {Streams::closed, Streams::unread}) {
    SCOPED_TRACE(streams == Streams::closed ? "stdout and stderr closed" : "pipes nobody reads");
    ProgramFolder folder;
    StandinServer server;
    Child c;
    start(c, install_args(server), folder.dir.path(),
          {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=SECRET"}, streams);
    ASSERT_TRUE(c.finish(120s));
    EXPECT_EQ(c.exit_status(), 0) << "wait status " << c.status;
    EXPECT_TRUE(restored(server));
  }
}

TEST(CliProcess, AnInterruptCancelsTheRunningStatementAndASecondEndsAtOnce) {
  ProgramFolder folder;
  const std::vector<std::string> env = {"DB_SETUP_REGISTRY=" + folder.registry,
                                        "DB_SETUP_PASSWORD=SECRET", "DB_SETUP_SILENCE_TIMEOUT=120"};
  // Sends SIGINT once the restore has begun; true when it did.
  const auto interrupt_restore = [](Child& c) {
    return [&c, sent = false](const std::string& err) mutable {
      if (!sent && err.find("装载进度: 10%") != std::string::npos)
        sent = ::kill(c.pid, SIGINT) == 0;
      return sent;
    };
  };
  {
    SCOPED_TRACE("a restore that answers the cancel");
    StandinServer server({"--restore-seconds", "60"});
    Child c;
    start(c, install_args(server), folder.dir.path(), env);
    ASSERT_FALSE(c.finish(60s, interrupt_restore(c))) << c.err_text;
    ASSERT_TRUE(c.finish(60s)) << c.err_text;
    EXPECT_EQ(c.exit_status(), 130) << c.err_text;
    EXPECT_EQ(last_line(c.out_text), "装载数据失败!");
    EXPECT_NE(c.err_text.find("装载数据失败!\n\n错误信息:"), std::string::npos) << c.err_text;
    EXPECT_EQ(last_line(c.err_text), "db_setup_cli: interrupted");
    const auto log = server.log();
    ASSERT_FALSE(log.empty());
    bool cancelled = false;
    for (const auto& e : log)
      if (e.value("statement", "").rfind("RESTORE DATABASE", 0) == 0)
        cancelled = e["outcome"].value("cancelled", false);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(log.back().value("type", ""), "disconnect");  // the failure exit's logoff
  }
  {
    SCOPED_TRACE("a restore that ignores the cancel");
    StandinServer server({"--restore-seconds", "10", "--stall-restore-at", "10"});
    Child c;
    start(c, install_args(server), folder.dir.path(), env);
    ASSERT_FALSE(c.finish(60s, [](const std::string& err) {
      return err.find("装载进度: 10%") != std::string::npos;
    })) << c.err_text;
    std::this_thread::sleep_for(1s);  // the server has gone silent
    ::kill(c.pid, SIGINT);
    // The cancel waits for the server's answer; the first signal did not end it.
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(c.running()) << c.err_text;
    ::kill(c.pid, SIGTERM);
    ASSERT_TRUE(c.finish(10s));
    EXPECT_TRUE(WIFSIGNALED(c.status) && WTERMSIG(c.status) == SIGTERM) << c.status;
  }
}

// Ctrl-C and Ctrl-D typed at the password prompt on a terminal.
TEST(CliProcess, ThePasswordPromptGivesUpCleanlyAndRestoresTheTerminal) {
  struct Case {
    const char* typed;
    int status;
  };
  for (const Case& k : {Case{"\x03", 130}, Case{"\x04", 64}}) {
    SCOPED_TRACE(k.status);
    ProgramFolder folder;
    int master = -1;
    std::vector<std::string> args = {DB_SETUP_CLI_BINARY};
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::setenv("DB_SETUP_REGISTRY", folder.registry.c_str(), 1);
      ::unsetenv("DB_SETUP_PASSWORD");
      auto argv = c_strings(args);
      if (::chdir(folder.dir.path().c_str()) == 0) ::execv(argv[0], argv.data());
      _exit(127);
    }
    // Wait for the prompt with the echo off.
    std::string seen;
    termios t{};
    const auto until = Clock::now() + 30s;
    while (Clock::now() < until) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0) {
        char buf[512];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) seen.append(buf, static_cast<std::size_t>(n));
      }
      if (seen.find("管理员密码: ") != std::string::npos && ::tcgetattr(master, &t) == 0 &&
          !(t.c_lflag & ECHO))
        break;
    }
    ASSERT_FALSE(t.c_lflag & ECHO) << seen;
    ASSERT_EQ(::write(master, k.typed, 1), 1);
    int status = 0;
    for (int i = 0; i < 1000 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
      pollfd p{master, POLLIN, 0};
      char buf[512];
      if (::poll(&p, 1, 10) > 0 && ::read(master, buf, sizeof buf) < 0)  // keep it flowing
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), k.status);
    ASSERT_EQ(::tcgetattr(master, &t), 0);
    EXPECT_TRUE(t.c_lflag & ECHO);
    ::close(master);
  }
}

#ifdef DB_SETUP_WINDOW_BINARY
// Started with no standard descriptors and Qt's own options, the window
// opens /dev/null on the descriptors and takes none of the options: here an
// unknown platform plugin would end it at once. It stays at its message box
// (no SQL Server found) until killed.
TEST(WindowProcess, OpensItsStandardDescriptorsAndLeavesQtOptionsAlone) {
  TempDir dir;
  std::vector<std::string> args = {DB_SETUP_WINDOW_BINARY, "-platform", "no_such_plugin",
                                   "-reverse"};
  Child c;
  c.pid = ::fork();
  ASSERT_GE(c.pid, 0);
  if (c.pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("DB_SETUP_REGISTRY", dir.file("none.reg").c_str(), 1);
    for (int fd = 0; fd <= 2; ++fd) ::close(fd);
    auto argv = c_strings(args);
    if (::chdir(dir.path().c_str()) == 0) ::execv(argv[0], argv.data());
    _exit(127);
  }
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
