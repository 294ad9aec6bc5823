// PLACEHOLDER: replaced by the install procedure.
#include "install/install.h"
namespace dbsetup {
int wf_mss2000_setup(SetupContext&) { return -1; }
int wf_mss7_setup(SetupContext&) { return -1; }
}  // namespace dbsetup
