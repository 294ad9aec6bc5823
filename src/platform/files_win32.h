#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace dbsetup {

// The file system through the Win32 API (see files_win32.cpp).
class Win32Files : public FileSystem {
 public:
  // GetCurrentDirectoryA with a 256-character buffer, or the full path when
  // that call cannot give it exactly. A drive root keeps its backslash.
  std::string current_directory() override;
  // True for an existing file; false for a directory.
  bool exists(const std::string& path) override;
  bool remove(const std::string& path) override;
};

// The UTF-16 form of a UTF-8 path for the W functions; from 248 characters
// on (the limit for folders, MAX_PATH for files), its full "\\?\" form.
std::wstring win32_file_path(const std::string& path);

// ProfileReader over ProfileIni (profile_ini.h); the file is read afresh on
// every call.
class Win32ProfileReader : public ProfileReader {
 public:
  std::string read(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& default_value) override;
};

}  // namespace dbsetup
