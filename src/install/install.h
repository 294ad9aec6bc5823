#pragma once

#include "app/context.h"

namespace dbsetup {

// The install procedures. Each reads its tab page's fields, runs every stage
// on ctx.sqlca and returns 0 on success (and, for SQL Server 7.0, when the
// operator declines the database name), otherwise the failed stage's code.
int wf_mss2000_setup(SetupContext& ctx);
int wf_mss7_setup(SetupContext& ctx);

}  // namespace dbsetup
