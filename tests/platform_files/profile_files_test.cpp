#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/files_posix.h"
#include "platform/platform.h"
#include "platform/profile_ini.h"
#include "support/temp_files.h"

namespace dbsetup {
namespace {

using testing::TempDir;
using testing::utf16le_file;

std::string get(const ProfileIni& ini, std::string_view section, std::string_view key) {
  return ini.get(section, key).value_or("<absent>");
}

TEST(ProfileIni, NamesBlanksQuotesRepeatsAndComments) {
  ProfileIni ini = ProfileIni::parse(
      "; leading comment\n"
      "\n"
      "   \n"
      "databasename=outside any section\n"
      "[ DataBase ]\n"
      "  DatabaseName   =   My Shop DB   \n"  // indented: a key of its own
      "dataname=\"quoted value\"\n"
      "logname='single'\n"
      "databasename=second\n"  // the first occurrence wins
      "empty=\n"
      "semi=a ;b; c\n"  // no comments inside a value
      "[other]\n"
      "logname=other section\n"
      "[DATABASE]\n"
      "logname=repeated section\n"
      "extra=from the repeated section\n"
      "no equals sign here\n"
      "# hash comment=x\n");
  EXPECT_EQ(get(ini, "database", "databasename"), "My Shop DB");
  EXPECT_EQ(get(ini, "DATABASE", "DATANAME"), "quoted value");
  EXPECT_EQ(get(ini, "database", "logname"), "single");
  EXPECT_EQ(get(ini, "database", "empty"), "");
  EXPECT_EQ(get(ini, "database", "semi"), "a ;b; c");
  EXPECT_EQ(get(ini, "database", "extra"), "from the repeated section");
  EXPECT_EQ(get(ini, "Other", "logname"), "other section");
  EXPECT_EQ(get(ini, "", "databasename"), "outside any section");
  EXPECT_EQ(get(ini, "database", "# hash comment"), "<absent>");
  EXPECT_EQ(get(ini, "database", "no equals sign here"), "<absent>");
  EXPECT_EQ(get(ini, "nosection", "logname"), "<absent>");
  EXPECT_EQ(get(ProfileIni::parse(""), "database", "databasename"), "<absent>");
}

TEST(ProfileIni, LongLinesAreReadWholeUpToTheLimitAndNeverSplit) {
  // inih's stock line buffer is 200 bytes; a database name of 128 Chinese
  // characters is 384 bytes of UTF-8.
  std::string name;
  for (int i = 0; i < 128; ++i) name += "库";
  std::string huge(ProfileIni::kMaxLineBytes + 500, 'x');
  ProfileIni ini = ProfileIni::parse("[database]\ndatabasename=" + name + "\n; " + huge +
                                     "logname=from the tail" + "\ndataname=" + huge + "\n");
  EXPECT_EQ(get(ini, "database", "databasename"), name);
  // The end of an over-long comment line is not read as a line of its own.
  EXPECT_EQ(get(ini, "database", "logname"), "<absent>");
  EXPECT_EQ(get(ini, "database", "dataname"),
            huge.substr(0, ProfileIni::kMaxLineBytes - std::string("dataname=").size()));

  // A cut never splits a UTF-8 character.
  std::string wide;
  while (wide.size() < ProfileIni::kMaxLineBytes + 10) wide += "数";
  std::string value = get(ProfileIni::parse("[d]\nk=" + wide + "\n"), "d", "k");
  EXPECT_LT(value.size(), ProfileIni::kMaxLineBytes);
  EXPECT_TRUE(is_valid_utf8(value));
  EXPECT_EQ(value.size() % 3, 0u);
}

TEST(ProfileIni, ReadsUtf8Cp936AndUtf16Files) {
  const std::string text = "[database]\r\ndatabasename=零售库\r\ndataname=零售_Data\r\n";
  for (const std::string& bytes :
       {text, "\xEF\xBB\xBF" + text, utf8_to_cp936(text), utf16le_file(text)}) {
    // A byte-order mark must not stick to the first section's name.
    ProfileIni ini = ProfileIni::parse(bytes);
    EXPECT_EQ(get(ini, "database", "databasename"), "零售库");
    EXPECT_EQ(get(ini, "database", "dataname"), "零售_Data");
  }
}

// The system's profile reader and files, on a real folder by Windows-style paths.
TEST(SystemFiles, ProfilesFallBackToTheDefaultFilesAreFoundAndRemoved) {
  TempDir dir;
  const std::string file = dir.write(
      "dbinstall.ini", utf8_to_cp936("[database]\ndatabasename=零售\ndataname=d\nlogname=l\n"));
  auto reader = make_system_profile_reader();
  const std::string ini = dir.path() + "\\dbinstall.ini";
  EXPECT_EQ(reader->read(ini, "database", "databasename", "None"), "零售");
  EXPECT_EQ(reader->read(ini, "Database", "LogName", "None"), "l");
  EXPECT_EQ(reader->read(ini, "database", "missing", "None"), "None");
  EXPECT_EQ(reader->read(ini, "nosection", "logname", "None"), "None");
  EXPECT_EQ(reader->read(dir.path() + "\\absent.ini", "database", "logname", "None"), "None");
  EXPECT_EQ(reader->read(dir.path(), "database", "logname", "None"), "None");  // a folder

  auto files = make_system_files();

  // A current directory far longer than 256 characters.
  std::string deep = dir.path();
  while (deep.size() < 600) deep += "/a_rather_long_folder_name";
  std::filesystem::create_directories(deep);
  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(deep);
  EXPECT_EQ(files->current_directory(), std::filesystem::canonical(deep).string());
  std::filesystem::current_path(old);

  EXPECT_TRUE(files->exists(file));
  EXPECT_TRUE(files->exists(dir.path() + "\\dbinstall.ini"));  // backslash as separator
  EXPECT_FALSE(files->exists(dir.path()));                     // a folder is no file
  EXPECT_FALSE(files->exists(dir.path() + "\\missing.ini"));
  EXPECT_EQ(to_posix_path("C:\\setup\\x.dat"), "C:/setup/x.dat");

  EXPECT_TRUE(files->remove(dir.path() + "\\dbinstall.ini"));
  EXPECT_FALSE(files->exists(file));
  EXPECT_FALSE(files->remove(file));  // already gone
  EXPECT_FALSE(files->remove(dir.path()));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
}

}  // namespace
}  // namespace dbsetup
