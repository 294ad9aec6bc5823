#pragma once

#include <cstddef>
#include <map>
#include <optional>
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

// A profile (INI) file, read by the same rules as on other systems:
//   - a UTF-8 file (with or without its byte-order mark) is UTF-8, a UTF-16LE
//     file with its byte-order mark is UTF-16; any other is code page 936;
//   - section and key names match regardless of letter case (ASCII letters);
//     blanks around section names, key names and values are dropped, and one
//     pair of matching quotes ("..." or '...') around a value is removed;
//   - the first occurrence of a key in a section wins; a section that appears
//     twice is one section; keys before the first section header belong to
//     the section named "";
//   - lines starting with ';' or '#' (after blanks) are comments; a ';' later
//     in a line is part of the value; an indented line is a line of its own;
//   - a line is read up to kMaxLineBytes bytes, cut at a character boundary;
//     section names are cut to kMaxSectionBytes bytes;
//   - the key ends at the first '=' or ':'; a line with neither, or a '['
//     line without its ']', is skipped.
class ProfileText {
 public:
  static constexpr std::size_t kMaxLineBytes = 8192;
  static constexpr std::size_t kMaxSectionBytes = 49;

  static ProfileText parse(std::string_view bytes);
  // nullopt when the section or the key is absent.
  std::optional<std::string> get(std::string_view section, std::string_view key) const;

 private:
  void add(std::string_view section, std::string_view key, std::string_view value);
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

// ProfileReader over ProfileText; the file is read afresh on every call.
class Win32ProfileReader : public ProfileReader {
 public:
  std::string read(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& default_value) override;
};

}  // namespace dbsetup
