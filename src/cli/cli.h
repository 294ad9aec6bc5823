#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace dbsetup::cli {

// Exit statuses of the headless front end.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;  // also: no password to be had
inline constexpr int kExitInterrupted = 130;
inline constexpr int kExitDetectionBase = 32;  // + the detection's code without its sign

struct Options {
  std::string edition = "mss2000";
  std::optional<std::string> server, login, instance, data_folder, backup, database;
  std::optional<bool> answer;  // --yes / --no
  bool help = false;
};

// Parses the command line (without the program name). Returns an error text
// when it cannot be used.
std::optional<std::string> parse(const std::vector<std::string>& args, Options& options);

std::string usage();

// Takes each argument that is not UTF-8 as code page 936 (GBK), the
// workstation's code page, and converts it. Returns an error text when one is
// valid in neither.
std::optional<std::string> decode_arguments(std::vector<std::string>& args);

// `text` made safe for a terminal: line breaks ("\r\n" becomes "\n") and
// tabs stay, every other control character is spelled out ("\x1b", C1 ones
// as "\u009b"), so that no server text can move the cursor, clear the screen
// or forge a line.
std::string terminal_text(std::string_view text);

// Where the front end talks to the operator. The defaults use the process's
// standard streams and terminal; tests replace them.
struct Console {
  std::function<void(const std::string&)> out;  // a status line
  std::function<void(const std::string&)> err;  // a message box, progress, errors
  // Asks a Yes/No question on the terminal; nullopt when there is none.
  std::function<std::optional<bool>(const std::string& question)> ask;
  // Reads the administrator password without echo; nullopt without a terminal.
  std::function<std::optional<std::string>(const std::string& prompt)> read_password;
  std::function<std::optional<std::string>(const char* name)> getenv;
  // Whether the operator has interrupted the run (SIGINT, SIGTERM).
  std::function<bool()> interrupted;
  // run() hands over what to do on an interrupt, and an empty function when
  // it is over; the front end calls it from a thread of its own.
  std::function<void(std::function<void()> cancel)> on_interrupt;
  // Ends the process at once with this status (from the interrupt's thread).
  std::function<void(int status)> end_now;
  // The run's outcome: a later interrupt does not change it.
  std::function<void(int status)> settle;
};

Console system_console();

// Runs the opening step and the install procedure of `options.edition`
// headlessly and returns the exit status.
int run(const Options& options, Platform& platform, Console& console);

}  // namespace dbsetup::cli
