#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"
#include "platform/run_settings.h"

namespace dbsetup {

// The registry where there is none: the contents of a registry export file,
// as the Windows registry editor writes it and reads it back on import.
//
// Accepted input:
//   - "Windows Registry Editor Version 5.00" in UTF-16LE with its byte-order
//     mark, or in UTF-8 with or without one; "REGEDIT4" in code page 936.
//   - [key] lines with the full path (HKLM stands for HKEY_LOCAL_MACHINE);
//     [-key] removes a key and everything below it.
//   - "name"=... and @=... (the default value) lines: "text" with the \\ and
//     \" escapes, dword:, hex:, hex(N): (hex(1) and hex(2) read as strings,
//     hex(7) as a multi-string; UTF-16LE in version 5 files, code page 936 in
//     REGEDIT4 files), and - to remove the value.
//   - Lines continued with a trailing backslash, ';' comment lines, blank
//     lines.
// A line that fits none of these is skipped. Key and value names match
// regardless of letter case (ASCII letters); a later line overrides an
// earlier one, as an import would.
//
// get_string() succeeds for string values only: a dword, a binary value or a
// multi-string is not a string, and its read fails.
class RegistryFile : public Registry {
 public:
  RegistryFile() = default;
  // Exports of whole machines stay far below this.
  static constexpr std::size_t kMaxFileBytes = std::size_t{256} << 20;
  // Reads the file at `path`. A missing or unreadable file is an empty
  // registry, and so is anything but a regular file (a device, a FIFO) and a
  // file of more than `max_bytes`.
  explicit RegistryFile(const std::string& path, std::size_t max_bytes = kMaxFileBytes);
  // Reads the file contents given as bytes.
  static RegistryFile from_bytes(std::string_view bytes);

  bool get_string(const std::string& key, const std::string& name, std::string& value) override;
  bool get_multi_string(const std::string& key, const std::string& name,
                        std::vector<std::string>& values) override;
  bool get_dword(const std::string& key, const std::string& name, uint32_t& value) override;

  // Number of keys held (keys named by [key] lines, whether or not they have
  // values).
  std::size_t key_count() const { return keys_.size(); }

 private:
  struct Value {
    enum Kind { String, MultiString, Dword, Other } kind = Other;
    std::string text;               // String
    std::vector<std::string> list;  // MultiString
    uint32_t dword = 0;             // Dword
  };
  using Values = std::map<std::string, Value>;  // by lower-cased value name

  void load(std::string_view bytes);
  void apply_line(std::string_view line, bool unicode, Values*& current);
  void apply_key_line(std::string_view line, Values*& current);
  void apply_value_line(std::string_view line, bool unicode, Values& current);
  static std::optional<Value> read_value(std::string_view data, bool unicode);
  const Value* find(const std::string& key, const std::string& name) const;

  std::map<std::string, Values> keys_;  // by lower-cased full key path
};

// Where the system registry file is: the run's setting (DB_SETUP_REGISTRY)
// when it is not empty, else /etc/db_setup/registry.reg.
std::string system_registry_path(const RunSettings& settings);

}  // namespace dbsetup
