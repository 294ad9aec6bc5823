#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace dbsetup {

// Paths reach the file system backends the way the program builds them on
// Windows: joined with a backslash (current directory + "\dbinstall.ini",
// data folder + "\name_Data.MDF"). On POSIX every backslash is therefore taken
// as a directory separator and turned into '/' before the path is used, so
// "/tmp/x\dbinstall.ini" names /tmp/x/dbinstall.ini. A POSIX file whose name
// holds a backslash cannot be reached through these backends.
std::string to_posix_path(std::string_view path);

// Reads the whole file at `path` (a POSIX path) into `bytes`. False when it
// cannot be opened or read, for one when it is a directory.
bool read_whole_file(const std::string& path, std::string& bytes);

// The local file system through POSIX calls.
class PosixFiles : public FileSystem {
 public:
  // getcwd() with a buffer that grows until the path fits; the empty string
  // when the directory cannot be determined (for one, when it was deleted).
  std::string current_directory() override;
  // True for an existing regular file (or a link to one); false for a
  // directory.
  bool exists(const std::string& path) override;
  // Unlinks the file; false when nothing was deleted.
  bool remove(const std::string& path) override;
};

}  // namespace dbsetup
