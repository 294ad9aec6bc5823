#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dbsetup {

// Read-only access to the registry. Key paths are full paths starting with the
// root name, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\MSSQLSERVER\Setup";
// key and value names match regardless of letter case.
class Registry {
 public:
  virtual ~Registry() = default;
  // False when the key or the value is missing or unreadable; `value` is then
  // left empty.
  virtual bool get_string(const std::string& key, const std::string& name, std::string& value) = 0;
  // False when the key or the value is missing; `values` is then empty.
  virtual bool get_multi_string(const std::string& key, const std::string& name,
                                std::vector<std::string>& values) = 0;
  // A REG_DWORD value. False when the key or the value is missing or is of
  // another type; `value` is then 0.
  virtual bool get_dword(const std::string& key, const std::string& name, uint32_t& value) = 0;
};

}  // namespace dbsetup
