// Letter case through the Windows API (the conversions of code page 936:
// tests/app/gf_str_xor_test.cpp, built here too).
#include <gtest/gtest.h>

#include "platform/text_case.h"

namespace dbsetup {
namespace {

// The server's logical file names are compared this way; the Linux build's
// ICU folding is tested through the install procedure.
TEST(TextCaseWin32, EveryLetterWithACaseMatchesItsOtherCase) {
  EXPECT_TRUE(equal_ignoring_case("ÄRGER_Data", "ärger_data"));
  EXPECT_TRUE(equal_ignoring_case("ΣΟΦΙΑ", "σοφια"));
  EXPECT_TRUE(equal_ignoring_case("零售", "零售"));
  EXPECT_FALSE(equal_ignoring_case("nuvex_Data", "nuvex_Log"));
  EXPECT_FALSE(equal_ignoring_case("a", "a "));
}

}  // namespace
}  // namespace dbsetup
