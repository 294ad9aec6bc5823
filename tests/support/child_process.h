#pragma once

// A front end run as a child process, the way operators, schedulers and
// pipelines start it, and the program folder it runs in.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_files.h"

namespace dbsetup::testing {

// dbinstall.ini for the database nuvex and a registry export with SQL Server
// 2000's default instance (whose keys serve SQL Server 7.0 as well).
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
  std::string registry;  // the export's path, for DB_SETUP_REGISTRY
};

// The argument vector execv wants, pointing into `args`.
inline std::vector<char*> argv_of(std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (auto& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);
  return argv;
}

// In a forked child: applies `env` (an entry "NAME=value" sets NAME, a bare
// "NAME" unsets it), enters `dir` and runs `argv`; exits 127 when it cannot.
[[noreturn]] inline void exec_child(const std::vector<char*>& argv, const std::string& dir,
                                    const std::vector<std::string>& env) {
  for (const auto& e : env) {
    const auto eq = e.find('=');
    eq == std::string::npos ? ::unsetenv(e.c_str())
                            : ::setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
  }
  if (::chdir(dir.c_str()) == 0) ::execv(argv[0], argv.data());
  _exit(127);
}

// How the child's standard descriptors are set up; standard input is
// /dev/null unless `none`.
enum class Streams {
  piped,   // output and error go to pipes this process reads
  closed,  // output and error closed
  unread,  // pipes whose read ends are closed: every write meets a closed pipe
  none,    // all three closed
};

// A child this process started: its pid and, once reaped, its wait status.
struct Child {
  pid_t pid = -1;
  int status = 0;  // as waitpid() gives it
  bool reaped = false;

  bool running() {
    if (!reaped && ::waitpid(pid, &status, WNOHANG) == pid) reaped = true;
    return !reaped;
  }
  // -1 unless it ended by exit()
  int exit_status() const { return reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
  void kill_if_running() {
    if (pid > 0 && running()) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

class ChildProcess : public Child {
 public:
  // Starts `args` in `dir` with `env` (see exec_child) over the rest of this
  // process's environment.
  ChildProcess(std::vector<std::string> args, const std::string& dir,
               const std::vector<std::string>& env, Streams streams = Streams::piped) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe failed");
    const std::vector<char*> argv = argv_of(args);
    pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_RDONLY);
      ::dup2(null, 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      for (int fd : {null, out[0], out[1], err[0], err[1]}) ::close(fd);
      if (streams == Streams::closed || streams == Streams::none) {
        ::close(1);
        ::close(2);
      }
      if (streams == Streams::none) ::close(0);
      exec_child(argv, dir, env);
    }
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (streams != Streams::piped) {
      ::close(out_);
      ::close(err_);
      out_ = err_ = -1;
    }
  }
  ~ChildProcess() {
    kill_if_running();
    for (int fd : {out_, err_})
      if (fd >= 0) ::close(fd);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads the pipes until the child has ended (true), `limit` has passed or
  // `watch`, shown standard error as it grows, says to stop (false).
  bool finish(std::chrono::milliseconds limit,
              const std::function<bool(const std::string&)>& watch = {}) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
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
          (i == 0 ? out_ : err_) = -1;
        }
      }
      if (out_ >= 0 || err_ >= 0) continue;
      if (reaped || ::waitpid(pid, &status, WNOHANG) == pid) return reaped = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  std::string out_text, err_text;

 private:
  int out_ = -1, err_ = -1;  // read ends when piped
};

struct Finished {
  int status = -1;  // the exit status; -1 when it had to be killed or was signalled
  std::string out, err;
};

// Runs `args` to its end with piped output (see ChildProcess); kills it after `limit`.
inline Finished run_child(const std::vector<std::string>& args, const std::string& dir,
                          const std::vector<std::string>& env,
                          std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  ChildProcess child(args, dir, env);
  child.finish(limit);
  return {child.exit_status(), child.out_text, child.err_text};
}

}  // namespace dbsetup::testing
