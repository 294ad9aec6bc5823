// db_setup_cli: the installer without a window, for scripted installs.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/std_descriptors.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: shellapi.h relies on its types.
#include <shellapi.h>

#include "platform/codepage.h"
#else
#include <csignal>
#endif

int main(int argc, char** argv) {
  // Before anything opens a file or a socket.
  if (!dbsetup::ensure_std_descriptors()) return 71;
#ifndef _WIN32
  // Output to a pipe whose reader has gone is lost, and the install goes on
  // to its end; the exit status still tells how it went.
  std::signal(SIGPIPE, SIG_IGN);
  // So is output to a terminal that has gone (SIGHUP): the work is not.
  std::signal(SIGHUP, SIG_IGN);
#endif
#ifdef _WIN32
  // Every text is UTF-8 inside; let the console show it as such.
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
#ifdef _WIN32
  // argv holds the arguments in the ANSI code page; every text is UTF-8
  // inside, so take them from the Unicode command line instead.
  int wide_count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wide_count)) {
    args.clear();
    for (int i = 1; i < wide_count; ++i)
      args.push_back(dbsetup::utf16_to_utf8(reinterpret_cast<const char16_t*>(wide[i])));
    LocalFree(wide);
  }
#endif
  dbsetup::cli::Options options;
  std::optional<std::string> error = dbsetup::cli::decode_arguments(args);
  if (!error) error = dbsetup::cli::parse(args, options);
  if (error) {
    std::cerr << "db_setup_cli: " << dbsetup::cli::terminal_text(*error) << "\n\n"
              << dbsetup::cli::usage();
    return dbsetup::cli::kExitUsage;
  }
  if (options.help) {
    std::cout << dbsetup::cli::usage();
    return 0;
  }
  dbsetup::cli::Console console = dbsetup::cli::system_console();
  dbsetup::SystemPlatform system(dbsetup::RunSettings::from_environment());
  return dbsetup::cli::run(options, system.platform(), console);
}
