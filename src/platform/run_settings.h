#pragma once

#include <functional>
#include <optional>
#include <string>

namespace dbsetup {

// What the environment may set for one run of a program, read once when it
// starts and handed down from there; nothing below reads the environment.
struct RunSettings {
  // How long a logon waits for each answer of the server, in seconds.
  long login_timeout_seconds = 15;
  // How long a statement may go without hearing from the server before it is
  // cancelled. The drivers measure each wait (FreeTDS: every read;
  // Microsoft's: every network packet), not the whole statement, so a
  // restore may run for hours as long as its progress messages keep coming.
  // SQL Server sends nothing while it zeroes a large restored file, which may
  // take many minutes, hence the generous default. FreeTDS waits the same
  // time again for the cancel's answer before it closes the connection, so a
  // server that stops answering altogether fails the statement after twice
  // this long.
  long silence_timeout_seconds = 1800;
  // The ODBC driver to use; empty: the preferred one installed.
  std::string odbc_driver;
  // Where a registry export stands in for the Windows registry (not on
  // Windows); empty: /etc/db_setup/registry.reg.
  std::string registry_file;

  // The environment's settings over the defaults: DB_SETUP_LOGIN_TIMEOUT and
  // DB_SETUP_SILENCE_TIMEOUT (whole seconds, 1 to 86400; anything else keeps
  // the default), DB_SETUP_ODBC_DRIVER and DB_SETUP_REGISTRY.
  using Lookup = std::function<std::optional<std::string>(const char* name)>;
  static RunSettings from(const Lookup& lookup);
  static RunSettings from_environment();
};

// The environment variable `name` as UTF-8 (on Windows from the wide
// environment, which holds every character); nothing when it is not set.
std::optional<std::string> environment_variable(const char* name);

// A timeout setting: `value` when it holds a whole number of seconds from 1 to
// 86400 (blanks around it allowed), otherwise `fallback`.
long seconds_setting(const char* value, long fallback);

}  // namespace dbsetup
