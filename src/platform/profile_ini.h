#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace dbsetup {

// A profile (INI) file as GetPrivateProfileString reads it: parsed with inih
// elsewhere (profile_ini_inih.cpp), by the same rules in files_win32.cpp.
//
// Rules:
//   - Encoding: a UTF-8 file (with or without its byte-order mark) is read as
//     UTF-8, a UTF-16LE file with its byte-order mark as UTF-16; any other file
//     is code page 936 and converted to UTF-8.
//   - Section and key names match regardless of letter case (ASCII letters);
//     blanks around a section name, a key name and a value are dropped, and
//     one pair of matching quotes ("..." or '...') around a value is removed.
//   - The first occurrence of a key in a section wins; a section that appears
//     twice is one section.
//   - Lines starting with ';' or '#' are comments. A ';' later in a line is
//     part of the value, and an indented line is a line of its own, never the
//     continuation of the previous value.
//   - A line is read up to kMaxLineBytes bytes (UTF-8); the rest of a longer
//     line is dropped at a character boundary. Section names of more than
//     kMaxSectionBytes bytes are cut to that length by inih.
//   - A line without '=' is ignored. inih also accepts ':' as the separator
//     when it comes before any '='.
// The comment and line-length rules need an inih whose options can be set at
// run time (the distribution's build). Built against an inih without them,
// " ;" starts a comment inside a value and lines are cut at inih's
// INI_MAX_LINE (200 bytes by default).
class ProfileIni {
 public:
  static constexpr std::size_t kMaxLineBytes = 8192;
  static constexpr std::size_t kMaxSectionBytes = 49;

  static ProfileIni parse(std::string_view bytes);
  // The file's bytes as UTF-8 text, by the encoding rules above.
  static std::string text(std::string_view bytes);

  // nullopt when the section or the key is absent.
  std::optional<std::string> get(std::string_view section, std::string_view key) const;

  // Used while parsing.
  void add(std::string_view section, std::string_view key, std::string_view value);

 private:
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

#ifndef _WIN32
// ProfileReader over ProfileIni. The file path may use backslashes as
// separators (see to_posix_path); the file is read afresh on every call.
class IniProfileReader : public ProfileReader {
 public:
  std::string read(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& default_value) override;
};
#endif

}  // namespace dbsetup
