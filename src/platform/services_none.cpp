#include "platform/services.h"

namespace dbsetup {

// A SQL Server on Linux runs under systemd, which this program leaves to the
// operator.
std::unique_ptr<Services> make_system_services() { return nullptr; }

}  // namespace dbsetup
