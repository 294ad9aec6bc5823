// Windows' own ordinal comparison without case, as its file systems use it.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "platform/codepage.h"
#include "platform/text_case.h"

namespace dbsetup {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  const std::u16string x = utf8_to_utf16(a);
  const std::u16string y = utf8_to_utf16(b);
  return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(x.data()),
                              static_cast<int>(x.size()),
                              reinterpret_cast<const wchar_t*>(y.data()),
                              static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace dbsetup
