#pragma once

#include "app/install_form.h"

namespace dbsetup {

// What sets the two editions' install procedures apart: the tab page, the
// driver name, a few checks, and the restore statement's options.
struct Edition {
  const char* dbtype;  // "mss2000" or "mss7"
  Page page;           // the tab page whose fields it reads

  const char* driver_name;
  // Ask the operator to confirm the database name before anything else.
  bool confirm_name;
  // A drop failing with this server error still counts as done (0: none).
  int drop_tolerated_error;
  // Offer to delete database files left in the data folder.
  bool check_leftover_files;
  // The install login's password: gs_password, or the fixed "zq".
  bool password_from_settings;
  // Take the logical file names from the backup check instead of checking
  // those of dbinstall.ini against the backup.
  bool logical_names_from_backup;
  const char* restore_options;
};

const Edition& mss2000_edition();
const Edition& mss7_edition();

}  // namespace dbsetup
