#include "app/gf_str_xor.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "window/opening.h"

namespace dbsetup {
namespace {

TEST(GfStrXor, ScramblesAndUnscramblesAnyBytes) {
  const std::string samples[] = {"Marlox", "a much longer text than the key", "\x01\xff\x80",
                                 utf8_to_cp936("零售管理")};
  for (const auto& s : samples) {
    std::string once = gf_str_xor(s);
    EXPECT_NE(once, s);
    EXPECT_EQ(gf_str_xor(once), s);
  }
  EXPECT_EQ(gf_str_xor(""), "");
}

TEST(GfStrXor, EachByteIsKeyMinusSourceWithTheKeyCyclingFromItsFirstLetter) {
  // A source of zero bytes yields the key itself, repeated from 'v'.
  std::string zeros(15, '\0');
  EXPECT_EQ(gf_str_xor(zeros), "vemtrokvemtrokv");
  // Byte 8 and byte 15 (1-based) pair with key letter 1 again.
  std::string s(15, 'a');
  std::string out = gf_str_xor(s);
  EXPECT_EQ(static_cast<unsigned char>(out[7]), static_cast<unsigned char>('v' - 'a'));
  EXPECT_EQ(static_cast<unsigned char>(out[14]), static_cast<unsigned char>('v' - 'a'));
  // Wrap-around below zero: k - s + 256.
  EXPECT_EQ(static_cast<unsigned char>(gf_str_xor("\xff")[0]), ('v' - 0xff + 256) % 256);
}

TEST(GfStrXor, ByteEqualToItsKeyByteBecomesAKeptZero) {
  std::string out = gf_str_xor("xvemtro");  // 'v' is at position 2, paired with 'e'
  ASSERT_EQ(out.size(), 7u);
  std::string same = gf_str_xor("vemtrok");
  EXPECT_EQ(same, std::string(7, '\0'));
  EXPECT_EQ(gf_str_xor(same), "vemtrok");
}

TEST(DisplayName, UnscramblesTo22BytesOfChinese) {
  std::string raw = gf_str_xor(std::string_view(kScrambledAppName, 22));
  EXPECT_EQ(raw.size(), 22u);
  EXPECT_EQ(display_name(), "Marlox零售管理系统安装");
  EXPECT_EQ(utf8_to_cp936(display_name()), raw);
}

TEST(CodePage, Gbk936RoundTripsAndReplacesWhatItCannotHold) {
  const std::string text = "数据库安装成功!";
  std::string bytes = utf8_to_cp936(text);
  EXPECT_EQ(bytes.size(), 15u);  // seven double-byte characters and '!'
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
