// PLACEHOLDER: replaced by the POSIX file system and profile reader.
#include "platform/platform.h"
namespace dbsetup {
std::unique_ptr<FileSystem> make_system_files() { return nullptr; }
std::unique_ptr<ProfileReader> make_system_profile_reader() { return nullptr; }
}  // namespace dbsetup
