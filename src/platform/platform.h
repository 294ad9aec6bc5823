#pragma once

#include <memory>

#include "platform/clock.h"
#include "platform/db_client.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace dbsetup {

// The operating-system services the program uses, one interface each. The
// default platform wires in this system's backends; tests substitute fakes.
struct Platform {
  Registry* registry = nullptr;
  FileSystem* files = nullptr;
  ProfileReader* profile = nullptr;
  DbClientFactory make_db_client;
  Clock* clock = nullptr;        // null: this system's clock
  Services* services = nullptr;  // null: none to start or stop a server with
};

// This system's backends: the Windows registry and kernel32 on Windows, a
// registry export file and POSIX calls elsewhere; ODBC for the database.
Platform& default_platform();

}  // namespace dbsetup

namespace dbsetup {

// This system's backends, one factory each (defined per platform).
std::unique_ptr<Registry> make_system_registry();
std::unique_ptr<FileSystem> make_system_files();
std::unique_ptr<ProfileReader> make_system_profile_reader();

}  // namespace dbsetup
