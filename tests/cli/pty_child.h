#pragma once

// db_setup_cli on a terminal of its own: the test holds the master side of a
// pseudo-terminal, reads what the operator would see, types, or hangs up;
// and the command line of an install.

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/standin_process.h"

namespace dbsetup::testing {

// db_setup_cli installing the backup of nuvex into `server` with every
// question answered Yes.
inline std::vector<std::string> install_args(StandinServer& server) {
  const std::string backup = server.make_backup("nuvex", "nuvex_Data", "nuvex_Log");
  return {DB_SETUP_CLI_BINARY, "--server", server.address(), "--data-folder",
          server.files_root(), "--backup", backup,           "--yes"};
}

// Whether the restore's outcome in the server's log says `how` ("ok", "cancelled").
inline bool restore_ended(const StandinServer& server, const char* how) {
  for (const auto& e : server.log())
    if (e.value("statement", "").rfind("RESTORE DATABASE", 0) == 0)
      return e["outcome"].value(how, false);
  return false;
}

class PtyChild : public Child {
 public:
  // Starts `args` in `dir` with `env` (see exec_child), leading a session on
  // the new terminal.
  PtyChild(std::vector<std::string> args, const std::string& dir,
           const std::vector<std::string>& env) {
    const std::vector<char*> argv = argv_of(args);
    pid = ::forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) exec_child(argv, dir, env);
  }
  ~PtyChild() {
    kill_if_running();
    hang_up();
  }
  PtyChild(const PtyChild&) = delete;
  PtyChild& operator=(const PtyChild&) = delete;

  // Reads the terminal into `seen` until `done(seen)` (true), or until the
  // child has ended (`done` empty) or `limit` has passed (false).
  bool read_until(const std::function<bool(const std::string&)>& done,
                  std::chrono::milliseconds limit) {
    for (const auto until = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < until;) {
      pollfd p{master_, POLLIN, 0};
      char buf[4096];
      const ssize_t n =
          master_ >= 0 && ::poll(&p, 1, 20) > 0 ? ::read(master_, buf, sizeof buf) : 0;
      if (n > 0) seen.append(buf, static_cast<std::size_t>(n));
      if (done ? done(seen) : n <= 0 && !running()) return true;
      if (master_ < 0 || n < 0) ::poll(nullptr, 0, 20);
    }
    return false;
  }
  bool wait(std::chrono::milliseconds limit) { return read_until({}, limit); }
  bool shows(const std::string& text) const { return seen.find(text) != std::string::npos; }
  int master() const { return master_; }

  void type(const std::string& keys) {
    if (::write(master_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
      throw std::runtime_error("cannot type at the terminal");
  }
  // The terminal goes away: the child, its session's leader, gets SIGHUP.
  void hang_up() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  std::string seen;  // everything the terminal has shown

 private:
  int master_ = -1;
};

}  // namespace dbsetup::testing
