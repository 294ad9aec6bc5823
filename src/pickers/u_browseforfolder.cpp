#include "pickers/u_browseforfolder.h"

namespace dbsetup {

std::string u_browseforfolder::browseforfolder(WindowUi& awi_parent,
                                               const std::string& as_caption) {
  return awi_parent.browse_for_folder(as_caption);
}

}  // namespace dbsetup
