// ALTER LOGIN: the status options (ENABLE, DISABLE).

#include "sql_parser.h"

namespace standin::detail {

// After ALTER LOGIN: the login's name (a Windows login in brackets,
// [DOMAIN\user]) and ENABLE or DISABLE.
AlterLogin Parser::alter_login() {
  AlterLogin a;
  a.name = name();
  if (accept_word("ENABLE"))
    a.enable = true;
  else if (accept_word("DISABLE"))
    a.enable = false;
  else
    fail();
  return a;
}

}  // namespace standin::detail
