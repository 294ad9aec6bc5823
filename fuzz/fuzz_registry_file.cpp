// The registry export-file reader on arbitrary file contents, followed by the
// reads the detection makes: the instance list, then each listed instance's
// keys (instance names come from the file, so key paths do too).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "platform/codepage.h"
#include "platform/registry_file.h"

namespace {

const std::string kSqlServer = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server";

// Every text the reader hands out has been decoded to UTF-8.
void read_string(dbsetup::RegistryFile& registry, const std::string& key, const std::string& name) {
  std::string value = "stale";
  if (registry.get_string(key, name, value))
    FUZZ_CHECK(dbsetup::is_valid_utf8(value));
  else
    FUZZ_CHECK(value.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  dbsetup::RegistryFile registry = dbsetup::RegistryFile::from_bytes(bytes);

  read_string(registry, "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\MSSQLServer\\Setup",
              "SQLDataRoot");
  read_string(registry, "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\MSSQLServer\\MSSQLServer",
              "DefaultDomain");
  read_string(registry, "HKLM\\Software\\A", "");

  std::vector<std::string> instances{"stale"};
  if (!registry.get_multi_string(kSqlServer, "InstalledInstances", instances))
    FUZZ_CHECK(instances.empty());
  for (const std::string& instance : instances) {
    FUZZ_CHECK(dbsetup::is_valid_utf8(instance));
    FUZZ_CHECK(!instance.empty());  // the list ends at its first empty text
    const std::string base = kSqlServer + "\\" + instance;
    read_string(registry, base + "\\Setup", "SQLDataRoot");
    read_string(registry, base + "\\MSSQLServer", "DefaultDomain");
    read_string(registry, kSqlServer + "\\Instance Names\\SQL", instance);
  }
  return 0;
}
