#pragma once

#include "app/context.h"

namespace dbsetup {

// The four picker buttons: a confirmed choice replaces the field beside the
// button, a cancelled dialog changes nothing.
void pb_mss7data_backupfile_clicked(SetupContext& ctx);
void pb_mss2000data_backupfile_clicked(SetupContext& ctx);
void pb_mss7data_setuppath_clicked(SetupContext& ctx);
void pb_mss2000data_setuppath_clicked(SetupContext& ctx);

}  // namespace dbsetup
