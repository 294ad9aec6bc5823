#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/transaction.h"
#include "platform/platform.h"

namespace dbsetup {

// The edition this build installs to; a constant of the window's opening step
// chosen at build time (DB_SETUP_EDITION), never by the operator.
#ifndef DB_SETUP_EDITION
#define DB_SETUP_EDITION "mss2000"
#endif
inline constexpr const char* kBuildEdition = DB_SETUP_EDITION;

// The display name as the program stores it: 22 bytes of code page 936,
// scrambled with gf_str_xor.
extern const char kScrambledAppName[23];

// The display name, unscrambled and converted to UTF-8.
std::string display_name();

// The application object `db_setup`: owns the settings and `sqlca` for the
// whole run and opens the one window.
class Application {
 public:
  explicit Application(Platform& platform);
  ~Application();

  // Create step: the application's name and the connection object.
  void create();
  // Open step: the command line is ignored. `open_window` opens w_createdb
  // and returns when it has closed; its result becomes the process's.
  int open(const std::vector<std::string>& command_line,
           const std::function<int(Application&)>& open_window);
  // Destroy step: releases `sqlca`.
  void destroy();

  const std::string& appname() const { return appname_; }
  Settings& settings() { return settings_; }
  Transaction& sqlca() { return *sqlca_; }
  bool has_sqlca() const { return sqlca_ != nullptr; }
  Platform& platform() { return platform_; }

 private:
  Platform& platform_;
  std::string appname_;
  Settings settings_;
  std::unique_ptr<Transaction> sqlca_;
};

}  // namespace dbsetup
