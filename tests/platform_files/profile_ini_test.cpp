// The rules of profile files, which the parsers of both platforms follow
// (inih here, its own in the Windows build, where this file runs as well).

#include "platform/profile_ini.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace dbsetup {
namespace {

std::string get(const ProfileIni& ini, std::string_view section, std::string_view key) {
  return ini.get(section, key).value_or("<absent>");
}

TEST(ProfileIni, NamesBlanksQuotesRepeatsAndComments) {
  const ProfileIni ini = ProfileIni::parse(
      "; leading comment\n"
      "\n"
      "   \n"
      "databasename=outside any section\n"
      "; logname=commented out\n"
      "[Other]\n"
      "logname=other section\n"
      "  [ DataBase ]  \n"
      "  # dataname=commented out\n"
      "  DatabaseName   =   My Shop DB   \n"  // indented: a key of its own
      "dataname=\"quoted value\"\n"
      "logname='single'\n"
      "databasename=second\n"  // the first occurrence wins
      "unbalanced='quote\n"
      "quoted=\"\"\n"
      "empty=\n"
      "semi=a ;b; c#d\n"  // no comments inside a value
      "path:C:\\x=y\n"    // ':' before any '=' separates as well
      "no equals sign here\n"
      "[broken\n"
      "after=a broken header changes nothing\n"
      "[other]\n"
      "logname=repeated section\n"
      "[DATABASE]\r"  // a lone CR ends a line too
      "extra=from the repeated section\r\n"
      "# hash comment=x\n");
  EXPECT_EQ(get(ini, "database", "databasename"), "My Shop DB");
  EXPECT_EQ(get(ini, "DATABASE", " DATANAME "), "quoted value");
  EXPECT_EQ(get(ini, "database", "logname"), "single");
  EXPECT_EQ(get(ini, "database", "unbalanced"), "'quote");
  EXPECT_EQ(get(ini, "database", "quoted"), "");
  EXPECT_EQ(get(ini, "database", "empty"), "");
  EXPECT_EQ(get(ini, "database", "semi"), "a ;b; c#d");
  EXPECT_EQ(get(ini, "database", "path"), "C:\\x=y");
  EXPECT_EQ(get(ini, "database", "after"), "a broken header changes nothing");
  EXPECT_EQ(get(ini, "database", "extra"), "from the repeated section");
  EXPECT_EQ(get(ini, "Other", "logname"), "other section");
  EXPECT_EQ(get(ini, "", "databasename"), "outside any section");
  for (const auto& [section, key] : {std::pair{"", "; logname"},
                                     {"database", "# dataname"},
                                     {"database", "# hash comment"},
                                     {"database", "no equals sign here"},
                                     {"broken", "after"},
                                     {"nosection", "logname"}})
    EXPECT_EQ(get(ini, section, key), "<absent>") << key;
  EXPECT_EQ(get(ProfileIni::parse(""), "database", "databasename"), "<absent>");
}

// A line is read up to kMaxLineBytes (inih's stock buffer is 200 bytes; a
// database name of 128 Chinese characters is 384 bytes of UTF-8); the rest is
// dropped at a character boundary, never read as a line of its own.
TEST(ProfileIni, LongLinesAreReadWholeUpToTheLimitAndNeverSplit) {
  constexpr std::size_t kMax = ProfileIni::kMaxLineBytes;
  std::string name;
  for (int i = 0; i < 128; ++i) name += "库";
  const std::string huge(kMax + 500, 'x');
  // After "k=" the last character starts one byte before the cut.
  std::string cut(kMax, 'x');
  cut.replace(kMax - 3, 3, "数");
  const ProfileIni ini =
      ProfileIni::parse("[database]\ndatabasename=" + name + "\n; " + huge +
                        "logname=from the tail\ndataname=" + huge + "\nk=" + cut + "\n[" +
                        std::string(60, 's') + "]\nk=2\n");
  EXPECT_EQ(get(ini, "database", "databasename"), name);
  EXPECT_EQ(get(ini, "database", "logname"), "<absent>");
  EXPECT_EQ(get(ini, "database", "dataname"),
            huge.substr(0, kMax - std::string("dataname=").size()));
  EXPECT_EQ(get(ini, "database", "k"), std::string(kMax - 3, 'x'));
  // Section names are cut to kMaxSectionBytes.
  EXPECT_EQ(get(ini, std::string(ProfileIni::kMaxSectionBytes, 's'), "k"), "2");
}

TEST(ProfileIni, ReadsUtf8Cp936AndUtf16Files) {
  const std::string text = "[database]\r\ndatabasename=零售库\r\ndataname=零售_Data\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t unit : utf8_to_utf16(text)) {
    utf16 += static_cast<char>(unit & 0xFF);
    utf16 += static_cast<char>(unit >> 8);
  }
  for (const std::string& bytes : {text, "\xEF\xBB\xBF" + text, utf8_to_cp936(text), utf16}) {
    // A byte-order mark must not stick to the first section's name.
    const ProfileIni ini = ProfileIni::parse(bytes);
    EXPECT_EQ(get(ini, "database", "databasename"), "零售库");
    EXPECT_EQ(get(ini, "database", "dataname"), "零售_Data");
  }
  // Bytes that are UTF-8 after a BOM only in part keep what decodes.
  EXPECT_EQ(get(ProfileIni::parse("\xEF\xBB\xBF[d]\nk=ok\xFF\n"), "d", "k"), "ok\xEF\xBF\xBD");
}

}  // namespace
}  // namespace dbsetup
