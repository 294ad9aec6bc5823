// The stand-in's T-SQL lexer and parser on arbitrary batch texts (as a SQL
// batch or sp_executesql delivers them after UTF-16 decoding), and its reader
// of sp_executesql's parameter declarations. A batch it cannot read must come
// out as SQL Server's messages (SqlError), never as anything else.

#include <cstddef>
#include <cstdint>
#include <string>

#include "check.h"
#include "sql.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    (void)standin::parse_batch(text);
  } catch (const standin::SqlError& e) {
    FUZZ_CHECK(!e.messages.empty());
    for (const standin::ServerMessage& m : e.messages) FUZZ_CHECK(m.is_error() && !m.text.empty());
  }
  for (const std::string& name : standin::parse_param_declarations(text))
    FUZZ_CHECK(!name.empty() && name[0] == '@');
  return 0;
}
