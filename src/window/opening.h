#pragma once

#include <string>

#include "app/context.h"

namespace dbsetup {

// The display name as the program stores it: 22 bytes of code page 936,
// scrambled with gf_str_xor.
extern const char kScrambledAppName[23];

// The display name, unscrambled and converted to UTF-8.
std::string display_name();

// The opening step of w_createdb for the given edition. Returns false when
// the window must close (the detection has already said why); the
// detection's result goes into `detection` when given (0 when it did not run).
bool w_createdb_open(SetupContext& ctx, const std::string& edition, int* detection = nullptr);

// The install button: runs the procedure of ctx.state.is_dbtype and returns
// its code (1 when the edition is unknown and nothing ran).
int cb_dbsetup_clicked(SetupContext& ctx);

}  // namespace dbsetup
