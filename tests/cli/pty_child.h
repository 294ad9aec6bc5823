#pragma once

// db_setup_cli on a terminal of its own (a pseudo-terminal whose master side
// the test holds): what the operator sees, what the operator types, and the
// terminal going away.

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace dbsetup::testing {

class PtyChild {
 public:
  // Starts `args` in `dir` as the leader of a new session on a new terminal;
  // `env` as for ChildProcess ("NAME=value" sets, a bare "NAME" unsets).
  PtyChild(std::vector<std::string> args, const std::string& dir,
           const std::vector<std::string>& env) {
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) {
      for (const auto& e : env) {
        const auto eq = e.find('=');
        if (eq == std::string::npos)
          ::unsetenv(e.c_str());
        else
          ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
      }
      if (::chdir(dir.c_str()) == 0) ::execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~PtyChild() {
    if (!reaped_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    hang_up();
  }
  PtyChild(const PtyChild&) = delete;
  PtyChild& operator=(const PtyChild&) = delete;

  // Reads what the terminal shows into `seen` until `done(seen)` holds
  // (true) or `limit` has passed (false).
  bool read_until(const std::function<bool(const std::string&)>& done,
                  std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done(seen)) {
      if (std::chrono::steady_clock::now() >= until) return false;
      read_some(20);
    }
    return true;
  }
  bool shows(const std::string& text) const { return seen.find(text) != std::string::npos; }

  // Waits for the child's end, reading the terminal meanwhile.
  bool wait(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (running()) {
      if (std::chrono::steady_clock::now() >= until) return false;
      if (!read_some(20)) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    while (read_some(0)) {
    }
    return true;
  }
  bool running() {
    if (!reaped_ && ::waitpid(pid, &status, WNOHANG) == pid) reaped_ = true;
    return !reaped_;
  }
  // -1 unless it ended by exit()
  int exit_status() const { return reaped_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

  // Keys typed at the terminal.
  void type(const std::string& keys) {
    if (::write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
      throw std::runtime_error("cannot type at the terminal");
  }
  // The terminal goes away: its session leader, the child, gets SIGHUP.
  void hang_up() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  int master() const { return master_; }

  pid_t pid = -1;
  std::string seen;  // everything the terminal has shown
  int status = 0;    // as waitpid() gives it

 private:
  // False when nothing came within `ms` or the terminal is gone.
  bool read_some(int ms) {
    if (master_ < 0) return false;
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    char buf[4096];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  int master_ = -1;
  bool reaped_ = false;
};

}  // namespace dbsetup::testing
