#pragma once

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
