// The file system and profile backends of the Windows build.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/files_win32.h"
#include "platform/platform.h"
#include "win32_test_util.h"

namespace dbsetup {
namespace {

using testing::make_folders;
using testing::write_file;

class FilesWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = "C:\\db_setup_tests\\run" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(make_folders(root_));
    wchar_t saved[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, saved);
    saved_cwd_.assign(saved, n < MAX_PATH ? n : 0);
    files_ = make_system_files();
    profile_ = make_system_profile_reader();
    ASSERT_NE(files_, nullptr);
    ASSERT_NE(profile_, nullptr);
  }

  void TearDown() override {
    if (!saved_cwd_.empty()) SetCurrentDirectoryW(saved_cwd_.c_str());
    testing::remove_tree(widen(root_));
    DeleteFileW(L"C:\\dbinstall.ini");
  }

  static bool change_directory(const std::string& path) {
    return SetCurrentDirectoryW(widen(path).c_str()) != 0;
  }

  // A folder below root_ whose full path is exactly `length` characters long.
  std::string folder_of_length(std::size_t length) {
    std::string path = root_;
    while (path.size() < length) {
      std::size_t room = length - path.size() - 1;  // after the backslash
      // Leave no one-character remainder, which could not form a segment.
      std::size_t segment = room > 120 ? 100 : room;
      const char letter = static_cast<char>('a' + path.size() % 26);
      path += '\\';
      path.append(segment, letter);
    }
    return path;
  }

  std::string root_;
  std::wstring saved_cwd_;
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<ProfileReader> profile_;
};

TEST_F(FilesWin32Test, DriveRootKeepsItsBackslashAndTheIniPathDoublesIt) {
  ASSERT_TRUE(change_directory("C:\\"));
  const std::string cwd = files_->current_directory();
  EXPECT_EQ(cwd, "C:\\");

  const std::string ini = cwd + "\\dbinstall.ini";  // C:\\dbinstall.ini
  EXPECT_FALSE(files_->exists(ini));
  ASSERT_TRUE(write_file("C:\\dbinstall.ini", "[database]\r\ndatabasename=ROOTDB\r\n"));
  EXPECT_TRUE(files_->exists(ini));
  EXPECT_EQ(profile_->read(ini, "database", "databasename", "None"), "ROOTDB");
  // A file that cannot be opened gives the default. (The rules and encodings:
  // profile_ini_test, built here too; names outside the ANSI code page below.)
  EXPECT_EQ(profile_->read(root_ + "\\missing.ini", "database", "databasename", "None"), "None");
}

// Folders outside the ANSI code page, and paths that do not fit the
// 256-character buffer with the NUL (255 still do) or go beyond MAX_PATH.
TEST_F(FilesWin32Test, CurrentDirectoryIsReadWhole) {
  for (const std::string& folder : {root_ + "\\安装 程序", root_ + "\\Café", folder_of_length(255),
                                    folder_of_length(256), folder_of_length(300)}) {
    ASSERT_TRUE(make_folders(folder));
    if (!change_directory(folder)) {
      // Windows without long path support cannot enter a folder beyond
      // MAX_PATH, so no program ever finds itself there (Wine can).
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE)) << folder;
      ASSERT_GT(folder.size(), static_cast<std::size_t>(MAX_PATH - 2));
      continue;
    }
    const std::string cwd = files_->current_directory();
    EXPECT_EQ(cwd, folder) << "ANSI code page " << GetACP();

    // The settings file beside it is found, read and deleted like any other.
    const std::string ini = cwd + "\\dbinstall.ini";
    ASSERT_TRUE(write_file(ini, "[database]\ndataname=LONG_Data\n"));
    EXPECT_TRUE(files_->exists(ini)) << ini.size();
    EXPECT_EQ(profile_->read(ini, "database", "dataname", "None"), "LONG_Data");
    EXPECT_TRUE(files_->remove(ini));
    EXPECT_FALSE(files_->exists(ini));
  }
  // Entered with a trailing backslash, reported without one.
  ASSERT_TRUE(change_directory(root_ + "\\"));
  EXPECT_EQ(files_->current_directory(), root_);
}

TEST_F(FilesWin32Test, ExistsAndRemove) {
  const std::string file = root_ + "\\商店_Data.MDF";
  const std::string folder = root_ + "\\Data";
  ASSERT_TRUE(make_folders(folder));

  EXPECT_FALSE(files_->exists(file));
  EXPECT_FALSE(files_->remove(file));
  ASSERT_TRUE(write_file(file, "x"));
  EXPECT_TRUE(files_->exists(file));
  // Letter case does not matter on Windows.
  EXPECT_TRUE(files_->exists(root_ + "\\商店_data.mdf"));
  // A folder is not a file, and is not deleted as one.
  EXPECT_FALSE(files_->exists(folder));
  EXPECT_FALSE(files_->remove(folder));
  EXPECT_NE(GetFileAttributesW(widen(folder).c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(files_->remove(file));
  EXPECT_FALSE(files_->exists(file));
  EXPECT_FALSE(files_->remove(file));
}

TEST(Win32FilePathTest, LongPathsTakeTheirFullForm) {
  // Short paths go as they are, doubled separators included.
  EXPECT_EQ(win32_file_path("C:\\\\dbinstall.ini"), L"C:\\\\dbinstall.ini");
  EXPECT_EQ(win32_file_path("D:\\安装\\x.ini"), L"D:\\安装\\x.ini");
  // Long ones in their full form, which no later step normalises.
  const std::string folder = "C:\\" + std::string(250, 'a');
  EXPECT_EQ(win32_file_path(folder + "\\\\sub\\..\\dbinstall.ini"),
            L"\\\\?\\" + widen(folder) + L"\\dbinstall.ini");
  const std::string share = "\\\\server\\share\\" + std::string(250, 'b');
  EXPECT_EQ(win32_file_path(share + "\\x.ini"),
            L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'b') + L"\\x.ini");
  const std::string prefixed = "\\\\?\\" + folder + "\\x.ini";
  EXPECT_EQ(win32_file_path(prefixed), widen(prefixed));
}

}  // namespace
}  // namespace dbsetup
