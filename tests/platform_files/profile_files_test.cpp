#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/files_posix.h"
#include "platform/platform.h"
#include "support/temp_files.h"

namespace dbsetup {
namespace {

using testing::TempDir;

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
