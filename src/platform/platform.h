#pragma once

#include <memory>

#include "platform/clock.h"
#include "platform/db_client.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/run_settings.h"
#include "platform/services.h"

namespace dbsetup {

// The operating-system services the program uses, one interface each. A
// program wires in this system's backends (SystemPlatform); tests substitute
// fakes.
struct Platform {
  Registry* registry = nullptr;
  FileSystem* files = nullptr;
  ProfileReader* profile = nullptr;
  DbClientFactory make_db_client;
  Clock* clock = nullptr;        // null: this system's clock
  Services* services = nullptr;  // null: none to start or stop a server with
};

// This system's backends, set up for one run: the Windows registry, kernel32
// and the Service Control Manager on Windows, a registry export file and
// POSIX calls elsewhere; ODBC for the database.
class SystemPlatform {
 public:
  explicit SystemPlatform(const RunSettings& settings);
  Platform& platform() { return platform_; }

 private:
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<ProfileReader> profile_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<Services> services_;
  Platform platform_;
};

// This system's backends, one factory each (defined per platform).
std::unique_ptr<Registry> make_system_registry(const RunSettings& settings);
std::unique_ptr<FileSystem> make_system_files();
std::unique_ptr<ProfileReader> make_system_profile_reader();

}  // namespace dbsetup
