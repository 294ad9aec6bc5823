#pragma once

#include <string>

#include "app/window_ui.h"

namespace dbsetup {

// The folder-browse object of the data folder pickers. It keeps no state: a
// caller declares one where it needs it.
class u_browseforfolder {
 public:
  // Shows a modal folder chooser owned by `awi_parent`, with `as_caption` as
  // its instruction line, and returns the chosen folder's full path, or the
  // empty string when the operator cancels: the window's folder chooser (on
  // Windows the shell's dialog, where only file-system folders can be
  // confirmed).
  std::string browseforfolder(WindowUi& awi_parent, const std::string& as_caption);
};

}  // namespace dbsetup
