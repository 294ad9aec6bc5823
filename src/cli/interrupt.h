#pragma once

#include <functional>
#include <optional>
#include <string>

namespace dbsetup::cli {

// How the headless front end takes an interrupt: SIGINT or SIGTERM (on
// Windows Ctrl-C, Ctrl-Break or the console closing).
//
// The first one does not end the process by itself. The signal handler only
// wakes a watcher thread, which calls the operation registered at that moment
// (the front end decides there what the interrupt means: end at once, or
// cancel the running statement). A prompt waiting for a line gives up. A
// second interrupt ends the process at once, after putting back the terminal
// settings a prompt had changed: with the settled status when there is one
// (see settle()), otherwise by the signal.
class Interrupts {
 public:
  // Installs the handlers and starts the watcher the first time; the same
  // object every time.
  static Interrupts& install();

  bool requested() const;
  // What the watcher calls on the first interrupt (called at once when it has
  // come already); an empty function registers nothing.
  void on_interrupt(std::function<void()> cancel);

  // Ends the process at once with `status`, after putting back the terminal
  // settings a prompt had changed. Safe from any thread.
  [[noreturn]] static void end_now(int status);
  // The run's outcome is known: a later interrupt ends the process with this
  // status instead of changing it.
  void settle(int status);

  // Reads a line from standard input, without its line end. nullopt at end
  // of input before any character, and when an interrupt comes meanwhile.
  std::optional<std::string> read_line();

  // Turns the terminal's echo off until the object goes; a second interrupt
  // meanwhile restores it before it ends the process.
  class QuietTerminal {
   public:
    QuietTerminal();
    ~QuietTerminal();
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

   private:
    bool changed_ = false;
  };

 private:
  Interrupts();
};

}  // namespace dbsetup::cli
