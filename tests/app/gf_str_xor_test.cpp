#include "app/gf_str_xor.h"

#include <gtest/gtest.h>

#include "app/application.h"
#include "platform/codepage.h"

namespace dbsetup {
namespace {

// Each byte becomes key byte minus source byte (mod 256), the key "vemtrok"
// cycling from its first letter; applied twice, any bytes come back.
TEST(GfStrXor, SubtractsFromTheCyclingKeyAndUndoesItself) {
  EXPECT_EQ(gf_str_xor(std::string(15, '\0')), "vemtrokvemtrokv");
  EXPECT_EQ(gf_str_xor("vemtrok"), std::string(7, '\0'));  // a zero result is kept
  EXPECT_EQ(static_cast<unsigned char>(gf_str_xor("\xff")[0]), ('v' - 0xff + 256) % 256);
  EXPECT_EQ(gf_str_xor(""), "");
  for (const std::string& s : {std::string("a much longer text than the key"),
                               std::string("\x01\xff\x80"), utf8_to_cp936("零售管理")}) {
    EXPECT_NE(gf_str_xor(s), s);
    EXPECT_EQ(gf_str_xor(gf_str_xor(s)), s);
  }
}

TEST(DisplayName, UnscramblesToChinese) { EXPECT_EQ(display_name(), "Marlox零售管理系统安装"); }

TEST(CodePage, Gbk936RoundTripsAndReplacesWhatItCannotHold) {
  const std::string text = "数据库安装成功!";
  std::string bytes = utf8_to_cp936(text);
  EXPECT_EQ(bytes, "\xCA\xFD\xBE\xDD\xBF\xE2\xB0\xB2\xD7\xB0\xB3\xC9\xB9\xA6!");
  EXPECT_EQ(cp936_to_utf8(bytes), text);
  EXPECT_EQ(cp936_to_utf8("abc\x81"), "abc\xEF\xBF\xBD");   // a lead byte without its trail
  EXPECT_EQ(cp936_to_utf8("\x81\x20x"), "\xEF\xBF\xBD x");  // the blank after it survives
  EXPECT_EQ(utf8_to_cp936("a\xF0\x9F\x98\x80"
                          "b"),
            "a?b");  // no GBK form for the emoji
  EXPECT_EQ(utf16_to_utf8(utf8_to_utf16("中文 \xF0\x9F\x98\x80")), "中文 \xF0\x9F\x98\x80");
  EXPECT_TRUE(is_valid_utf8("中文"));
  EXPECT_FALSE(is_valid_utf8(bytes));
}

}  // namespace
}  // namespace dbsetup
