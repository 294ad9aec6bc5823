// PLACEHOLDER: replaced by the picker handlers.
#include "pickers/pickers.h"
namespace dbsetup {
void pb_mss7data_backupfile_clicked(SetupContext&) {}
void pb_mss2000data_backupfile_clicked(SetupContext&) {}
void pb_mss7data_setuppath_clicked(SetupContext&) {}
void pb_mss2000data_setuppath_clicked(SetupContext&) {}
}  // namespace dbsetup
