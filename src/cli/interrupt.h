#pragma once

#include <functional>
#include <optional>
#include <string>

namespace dbsetup::cli {

// How the headless front end takes an interrupt: SIGINT or SIGTERM (on
// Windows Ctrl-C, Ctrl-Break or the console closing).
//
// The first one does not end the process. The signal handler only wakes a
// watcher thread, which calls the cancel operation registered at that moment:
// the running statement fails, the install procedure leaves through its usual
// failure exit, and the front end ends with its own status. A prompt waiting
// for a line gives up. A second interrupt ends the process at once, after
// putting back the terminal settings a prompt had changed.
class Interrupts {
 public:
  // Installs the handlers and starts the watcher the first time; the same
  // object every time.
  static Interrupts& install();

  bool requested() const;
  // What the watcher calls on the first interrupt (called at once when it has
  // come already); an empty function registers nothing.
  void on_interrupt(std::function<void()> cancel);

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
