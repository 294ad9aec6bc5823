// Code page 936 conversions through the Windows API behave as the iconv ones
// do elsewhere: the same bytes, the same replacements.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/text_case.h"

namespace dbsetup {
namespace {

// The rest of the conversions: tests/app/gf_str_xor_test.cpp, built here too.
TEST(CodePageWin32, WritesTheBytesOfCodePage936) {
  EXPECT_EQ(utf8_to_cp936("数据库安装成功!"),
            "\xCA\xFD\xBE\xDD\xBF\xE2\xB0\xB2\xD7\xB0\xB3\xC9\xB9\xA6!");
}

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
