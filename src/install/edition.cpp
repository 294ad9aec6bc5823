#include "install/edition.h"

#include "install/statements.h"

namespace dbsetup {

const Edition& mss2000_edition() {
  static const Edition edition{
      "mss2000",
      Page::mss2000,
      "MSS Microsoft SQL Server",
      /*confirm_name=*/false,
      /*drop_tolerated_error=*/0,
      /*check_leftover_files=*/false,
      /*password_from_settings=*/false,
      /*logical_names_from_backup=*/false,
      sql::kRestoreOptions2000,
  };
  return edition;
}

const Edition& mss7_edition() {
  static const Edition edition{
      "mss7",
      Page::mss7,
      "MSS Microsoft SQL Server 6.x",
      /*confirm_name=*/true,
      /*drop_tolerated_error=*/5105,  // device activation error: a file could not be opened
      /*check_leftover_files=*/true,
      /*password_from_settings=*/true,
      /*logical_names_from_backup=*/true,
      sql::kRestoreOptions7,
  };
  return edition;
}

}  // namespace dbsetup
