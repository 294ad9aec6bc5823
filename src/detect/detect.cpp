// PLACEHOLDER: replaced by the detection implementation.
#include "detect/detect.h"
namespace dbsetup {
int wf_check_dbsetup(SetupContext&, const std::string&) { return -1; }
void ddplb_mss2000_instances_selectionchanged(SetupContext&, int) {}
}  // namespace dbsetup
