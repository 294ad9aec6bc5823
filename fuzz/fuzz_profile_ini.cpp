// The dbinstall.ini reader (inih underneath) on arbitrary file contents,
// followed by the three reads the detection makes.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "check.h"
#include "platform/codepage.h"
#include "platform/profile_ini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const dbsetup::ProfileIni profile = dbsetup::ProfileIni::parse(bytes);
  for (const char* key : {"databasename", "dataname", "logname"}) {
    auto value = profile.get("database", key);
    if (!value) continue;
    // Decoded to UTF-8 whatever the file's encoding, and never more than
    // one line's worth.
    FUZZ_CHECK(dbsetup::is_valid_utf8(*value));
    FUZZ_CHECK(value->size() <= dbsetup::ProfileIni::kMaxLineBytes);
  }
  return 0;
}
