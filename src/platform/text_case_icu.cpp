// ICU's default case folding, the one Unicode defines for caseless matching.

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <string>

#include "platform/codepage.h"
#include "platform/text_case.h"

namespace dbsetup {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  const std::u16string x = utf8_to_utf16(a);
  const std::u16string y = utf8_to_utf16(b);
  UErrorCode status = U_ZERO_ERROR;
  const int order = u_strCaseCompare(x.data(), static_cast<int32_t>(x.size()), y.data(),
                                     static_cast<int32_t>(y.size()), U_FOLD_CASE_DEFAULT, &status);
  return U_SUCCESS(status) && order == 0;
}

}  // namespace dbsetup
