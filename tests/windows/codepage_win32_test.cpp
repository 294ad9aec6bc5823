// Code page 936 conversions through the Windows API behave as the iconv ones
// do elsewhere: the same bytes, the same replacements.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/text_case.h"

namespace dbsetup {
namespace {

TEST(CodePageWin32, RoundTripsAndReplacesLikeEveryOtherPlatform) {
  const std::string text = "数据库安装成功!";
  const std::string bytes = utf8_to_cp936(text);
  EXPECT_EQ(bytes, "\xCA\xFD\xBE\xDD\xBF\xE2\xB0\xB2\xD7\xB0\xB3\xC9\xB9\xA6!");
  EXPECT_EQ(cp936_to_utf8(bytes), text);
  EXPECT_EQ(cp936_to_utf8("abc\x81"), "abc\xEF\xBF\xBD");   // a lead byte alone
  EXPECT_EQ(cp936_to_utf8("\x81\x20x"), "\xEF\xBF\xBD x");  // a lead byte, bad trail
  EXPECT_EQ(utf8_to_cp936("a\xF0\x9F\x98\x80"
                          "b"),
            "a?b");  // one '?' for the emoji
}

}  // namespace
}  // namespace dbsetup

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
