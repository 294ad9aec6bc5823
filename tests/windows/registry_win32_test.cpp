// The registry backend against values written by the system's reg.exe (the
// program `wine reg add` runs), in the 32-bit and in the 64-bit view.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "win32_test_util.h"

namespace dbsetup {
namespace {

using testing::reg_exe;
using testing::run_program;

enum class View { Bits32, Bits64 };

class RegistryWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\db_setup_tests\\run" + std::to_string(GetCurrentProcessId());
    registry_ = make_system_registry();
    ASSERT_NE(registry_, nullptr);
  }

  void TearDown() override {
    for (const char* view : {"/reg:32", "/reg:64"})
      run_program(reg_exe() + " delete \"" + base_ + "\" /f " + view);
  }

  // reg add KEY /v NAME /t TYPE /d DATA /f in one view. Multi-string items
  // are separated by \0 in DATA.
  void add(View view, const std::string& subkey, const std::string& name, const std::string& type,
           const std::string& data) {
    std::string command = reg_exe() + " add \"" + base_ + subkey + "\" /v \"" + name + "\" /t " +
                          type + " /d \"" + data + "\" /f " +
                          (view == View::Bits32 ? "/reg:32" : "/reg:64");
    ASSERT_EQ(run_program(command), 0) << command;
  }

  std::string base_;
  std::unique_ptr<Registry> registry_;
};

TEST_F(RegistryWin32Test, ReadsStringsAndMultiStringsByTheirKind) {
  add(View::Bits32, "\\Setup", "SQLDataRoot", "REG_SZ", "D:\\数据\\MSSQL$SHOP");
  add(View::Bits32, "\\Setup", "Expandable", "REG_EXPAND_SZ", "%SystemRoot%\\Data");
  add(View::Bits32, "\\Setup", "Empty", "REG_SZ", "");
  add(View::Bits32, "\\Setup", "Count", "REG_DWORD", "7");
  add(View::Bits32, "", "InstalledInstances", "REG_MULTI_SZ", "MSSQLSERVER\\0SHOP\\0商店");
  add(View::Bits32, "", "NoInstances", "REG_MULTI_SZ", "");

  std::string text = "stale";
  EXPECT_TRUE(registry_->get_string(base_ + "\\Setup", "SQLDataRoot", text));
  EXPECT_EQ(text, "D:\\数据\\MSSQL$SHOP");
  // As stored: the variable is not expanded.
  EXPECT_TRUE(registry_->get_string(base_ + "\\Setup", "Expandable", text));
  EXPECT_EQ(text, "%SystemRoot%\\Data");
  text = "stale";
  EXPECT_TRUE(registry_->get_string(base_ + "\\Setup", "Empty", text));
  EXPECT_EQ(text, "");

  std::vector<std::string> list{"stale"};
  EXPECT_TRUE(registry_->get_multi_string(base_, "InstalledInstances", list));
  EXPECT_EQ(list, (std::vector<std::string>{"MSSQLSERVER", "SHOP", "商店"}));
  list = {"stale"};
  EXPECT_TRUE(registry_->get_multi_string(base_, "NoInstances", list));
  EXPECT_TRUE(list.empty());

  // Root, key and value names in any letter case; HKLM for the root.
  std::string hklm = "hklm" + base_.substr(std::string("HKEY_LOCAL_MACHINE").size());
  EXPECT_TRUE(registry_->get_string(hklm + "\\SETUP", "sqldataroot", text));
  EXPECT_EQ(text, "D:\\数据\\MSSQL$SHOP");
  std::string lower = "hkey_local_machine" + hklm.substr(4);
  EXPECT_TRUE(registry_->get_multi_string(lower, "installedINSTANCES", list));
  EXPECT_EQ(list.size(), 3u);

  // A value of another kind is not read: it fails and leaves the result empty.
  text = "stale";
  EXPECT_FALSE(registry_->get_string(base_ + "\\Setup", "Count", text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(registry_->get_string(base_, "InstalledInstances", text));
  list = {"stale"};
  EXPECT_FALSE(registry_->get_multi_string(base_ + "\\Setup", "SQLDataRoot", list));
  EXPECT_TRUE(list.empty());
}

TEST_F(RegistryWin32Test, MissingKeyAndMissingValueBothFail) {
  add(View::Bits32, "\\MSSQLServer", "DefaultDomain", "REG_SZ", "SHOPSERVER");

  std::string text = "stale";
  EXPECT_TRUE(registry_->get_string(base_ + "\\MSSQLServer", "DefaultDomain", text));
  EXPECT_EQ(text, "SHOPSERVER");

  // The key is there, the value is not.
  text = "stale";
  EXPECT_FALSE(registry_->get_string(base_ + "\\MSSQLServer", "SQLDataRoot", text));
  EXPECT_EQ(text, "");
  // The key is not there.
  text = "stale";
  EXPECT_FALSE(registry_->get_string(base_ + "\\NoSuchKey", "DefaultDomain", text));
  EXPECT_EQ(text, "");
  std::vector<std::string> list{"stale"};
  EXPECT_FALSE(registry_->get_multi_string(base_ + "\\NoSuchKey", "InstalledInstances", list));
  EXPECT_TRUE(list.empty());
  list = {"stale"};
  EXPECT_FALSE(registry_->get_multi_string(base_ + "\\MSSQLServer", "InstalledInstances", list));
  EXPECT_TRUE(list.empty());

  // A root that does not exist.
  EXPECT_FALSE(registry_->get_string("HKEY_NOWHERE" + base_.substr(18) + "\\MSSQLServer",
                                     "DefaultDomain", text));
}

TEST_F(RegistryWin32Test, ThirtyTwoBitViewComesFirst) {
  // Only in the 64-bit view: still found.
  add(View::Bits64, "\\Only64", "SQLDataRoot", "REG_SZ", "C:\\Only64");
  add(View::Bits64, "", "InstalledInstances", "REG_MULTI_SZ", "SHOP64");
  // In both views: the 32-bit one wins.
  add(View::Bits32, "\\Both", "SQLDataRoot", "REG_SZ", "C:\\From32");
  add(View::Bits64, "\\Both", "SQLDataRoot", "REG_SZ", "C:\\From64");
  // The 32-bit key exists without the value; the 64-bit one has it.
  add(View::Bits32, "\\Split", "Other", "REG_SZ", "x");
  add(View::Bits64, "\\Split", "SQLDataRoot", "REG_SZ", "C:\\Split64");
  // Only in the 32-bit view.
  add(View::Bits32, "\\Only32", "SQLDataRoot", "REG_SZ", "C:\\Only32");

  std::string text;
  EXPECT_TRUE(registry_->get_string(base_ + "\\Only64", "SQLDataRoot", text));
  EXPECT_EQ(text, "C:\\Only64");
  std::vector<std::string> list;
  EXPECT_TRUE(registry_->get_multi_string(base_, "InstalledInstances", list));
  EXPECT_EQ(list, std::vector<std::string>{"SHOP64"});

  EXPECT_TRUE(registry_->get_string(base_ + "\\Both", "SQLDataRoot", text));
  EXPECT_EQ(text, "C:\\From32");
  EXPECT_TRUE(registry_->get_string(base_ + "\\Split", "SQLDataRoot", text));
  EXPECT_EQ(text, "C:\\Split64");
  EXPECT_TRUE(registry_->get_string(base_ + "\\Only32", "SQLDataRoot", text));
  EXPECT_EQ(text, "C:\\Only32");

  // A multi-string in the 32-bit view wins over the 64-bit one as well.
  add(View::Bits32, "", "InstalledInstances", "REG_MULTI_SZ", "MSSQLSERVER\\0SHOP32");
  EXPECT_TRUE(registry_->get_multi_string(base_, "InstalledInstances", list));
  EXPECT_EQ(list, (std::vector<std::string>{"MSSQLSERVER", "SHOP32"}));
}

}  // namespace
}  // namespace dbsetup
