#pragma once

#include <string>

#include "platform/window_ui.h"

namespace dbsetup {

// The folder-browse object of the data folder pickers. It keeps no state: a
// caller declares one where it needs it.
class u_browseforfolder {
 public:
  // Shows a modal folder chooser owned by `awi_parent`, with `as_caption` as
  // its instruction line, and returns the chosen folder's full path, or the
  // empty string when the operator cancels. On Windows it is the shell's
  // dialog, where only file-system folders can be confirmed; elsewhere the
  // window's own folder chooser stands in.
  std::string browseforfolder(WindowUi& awi_parent, const std::string& as_caption);
};

}  // namespace dbsetup
