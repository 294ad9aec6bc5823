#pragma once

#include "app/install_form.h"
#include "app/settings.h"
#include "app/transaction.h"
#include "app/window_ui.h"
#include "platform/platform.h"

namespace dbsetup {

// Everything a window function reaches: the program-wide settings and
// connection, the window's fields and state, the window itself for what is
// no field (through its narrow interface), and the operating system's
// services.
struct SetupContext {
  Settings& gs;
  Transaction& sqlca;
  WindowUi& ui;
  InstallForm& form;
  Platform& platform;
};

}  // namespace dbsetup
