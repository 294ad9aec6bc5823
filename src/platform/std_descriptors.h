#pragma once

namespace dbsetup {

// Makes sure descriptors 0, 1 and 2 are open before the program opens any
// file or socket of its own. A process started with one of them closed would
// otherwise be handed that number for its next file or server connection,
// and its standard output or error would then be written into it. A closed
// one is opened on /dev/null (input for 0, output for 1 and 2). False when
// /dev/null cannot be opened. Nothing to do on Windows, where the standard
// handles are not numbers shared with files.
bool ensure_std_descriptors();

}  // namespace dbsetup
