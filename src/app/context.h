#pragma once

#include <mutex>
#include <string>

#include "app/settings.h"
#include "app/transaction.h"
#include "platform/platform.h"
#include "platform/window_ui.h"

namespace dbsetup {

// The window's own state.
struct WindowState {
  std::string is_dbtype;            // "mss7" or "mss2000", set when the window opens
  std::string is_mss2000_instance;  // the SQL Server 2000 instance chosen

  // The copy of an overwritten database that the running install wrote
  // before dropping it (empty: none yet). Written on the thread that runs the
  // procedure; a front end may read it from another (an interrupt handler).
  void set_old_database_copy(const std::string& path) {
    std::lock_guard lock(copy_mutex_);
    old_database_copy_ = path;
  }
  std::string old_database_copy() const {
    std::lock_guard lock(copy_mutex_);
    return old_database_copy_;
  }

 private:
  mutable std::mutex copy_mutex_;
  std::string old_database_copy_;
};

// Everything a window function reaches: the program-wide settings and
// connection, the window (through its narrow interface) with its state, and
// the operating system's services.
struct SetupContext {
  Settings& gs;
  Transaction& sqlca;
  WindowUi& ui;
  WindowState& state;
  Platform& platform;
};

}  // namespace dbsetup
