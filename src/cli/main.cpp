// db_setup_cli: the installer without a window, for scripted installs.
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
  // Every text is UTF-8 inside; let the console show it as such.
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  dbsetup::cli::Options options;
  if (auto error = dbsetup::cli::parse(args, options)) {
    std::cerr << "db_setup_cli: " << *error << "\n\n" << dbsetup::cli::usage();
    return dbsetup::cli::kExitUsage;
  }
  if (options.help) {
    std::cout << dbsetup::cli::usage();
    return 0;
  }
  dbsetup::cli::Console console = dbsetup::cli::system_console();
  return dbsetup::cli::run(options, dbsetup::default_platform(), console);
}
