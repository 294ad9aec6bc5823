#pragma once

#include <string>

#include "app/context.h"

namespace dbsetup {

// The opening step of w_createdb for the given edition. Returns false when
// the window must close (the detection has already said why); the
// detection's result goes into `detection` when given (0 when it did not run).
bool w_createdb_open(SetupContext& ctx, const std::string& edition, int* detection = nullptr);

}  // namespace dbsetup
