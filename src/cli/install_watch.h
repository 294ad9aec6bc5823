#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace dbsetup::cli {

// What an interrupt means depends on how far the install has come, and the
// front end decides it on the thread that takes the interrupt while the
// install goes on on its own:
//
// - Before the first logon has succeeded nothing has changed on the server:
//   the program ends at once (130).
// - After it, the running statement is cancelled, and the install leaves
//   through its failure exit (130). A server that does not answer the cancel
//   within kCancelGrace does not keep the program: it ends then, after
//   showing what the failure exit would have (status line, box) and what may
//   be left on the server; ending closes the connection. That thread never
//   touches the connection itself beyond the cancel, so no two threads use
//   it at once.
// - Once the last statement has succeeded, or the procedure has returned,
//   the outcome stands: the interrupt changes nothing.
//
// Every line the front end prints goes through here, one at a time, with its
// control characters spelled out.
class InstallWatch {
 public:
  static constexpr std::chrono::seconds kCancelGrace{10};

  struct Hooks {
    std::function<void(const std::string&)> out;     // a status line
    std::function<void(const std::string&)> err;     // a box, progress, errors
    std::function<void()> cancel;                    // stops the running statement
    std::function<void(int status)> end_now;         // ends the process at once
    std::function<std::string()> old_database_copy;  // thread-safe; empty: none
    const std::string* appname;  // the title of boxes, set when the window opens
  };
  explicit InstallWatch(Hooks hooks) : hooks_(std::move(hooks)) {}

  void out(const std::string& line);
  void err(const std::string& line);

  // Told by the thread that runs the install.
  void database(std::string name);
  void logged_on();
  // A status line the procedure writes, told before it is shown.
  void status(const std::string& text);
  // The procedure has returned: from now on the outcome stands. Whether an
  // interrupt came before, after the first logon.
  bool returned();
  // What an interrupted install may have left on the server, one line each.
  std::vector<std::string> interrupt_note() const;

  // Called on the thread that takes the interrupt.
  void on_interrupt();

 private:
  // The last lines before the program ends from the interrupt's thread. A
  // line being written (to a terminal whose output is stopped) is waited for
  // only a moment; the lock is kept until the end.
  [[noreturn]] void end_with(int status, const std::vector<std::string>& err_lines,
                             const std::string& status_line = {});

  Hooks hooks_;
  std::timed_mutex output_;

  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable changed_;
  std::string database_;
  bool logged_on_ = false;
  bool finished_ = false;  // the success status came: the last statement succeeded
  bool returned_ = false;
  bool interrupted_ = false;          // after the first logon, before the outcome stood
  bool restoring_ = false;            // the restore is running
  bool interrupted_restore_ = false;  // the interrupt came during the restore
  bool status_after_interrupt_ = false;
};

}  // namespace dbsetup::cli
