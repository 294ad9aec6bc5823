#include "platform/services.h"

namespace dbsetup {

// The Service Control Manager backend is still to come.
std::unique_ptr<Services> make_system_services() { return nullptr; }

}  // namespace dbsetup
