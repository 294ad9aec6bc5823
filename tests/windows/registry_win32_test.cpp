// The registry backend against values written by the system's reg.exe (the
// program `wine reg add` runs), in the 32-bit and in the 64-bit view.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/platform.h"
#include "win32_test_util.h"

namespace dbsetup {
namespace {

using testing::run_program;

// The system's reg.exe (a program name alone is looked for in the system
// folder after the program's own and the current one).
constexpr const char* kReg = "reg.exe";

class RegistryWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\db_setup_tests\\run" + std::to_string(GetCurrentProcessId());
    registry_ = make_system_registry(RunSettings{});
    ASSERT_NE(registry_, nullptr);
  }

  void TearDown() override {
    for (const char* view : {"/reg:32", "/reg:64"})
      run_program(std::string(kReg) + " delete \"" + base_ + "\" /f " + view);
  }

  // reg add KEY /v NAME /t TYPE /d DATA /f in one view (/reg:32 or
  // /reg:64). Multi-string items are separated by \0 in DATA.
  void add(const char* view, const std::string& subkey, const std::string& name,
           const std::string& type, const std::string& data) {
    std::string command = std::string(kReg) + " add \"" + base_ + subkey + "\" /v \"" + name +
                          "\" /t " + type + " /d \"" + data + "\" /f " + view;
    ASSERT_EQ(run_program(command), 0) << command;
  }

  std::string base_;
  std::unique_ptr<Registry> registry_;
};

// Each read fails on a missing root, key or value and on a value of another
// kind, and then leaves the result empty.
TEST_F(RegistryWin32Test, ReadsValuesOfTheirKindInAnyLetterCase) {
  add("/reg:32", "\\Setup", "SQLDataRoot", "REG_SZ", "D:\\数据\\MSSQL$SHOP");
  add("/reg:32", "\\Setup", "Expandable", "REG_EXPAND_SZ", "%SystemRoot%\\Data");
  add("/reg:32", "\\Setup", "Empty", "REG_SZ", "");
  add("/reg:32", "\\Setup", "Count", "REG_DWORD", "7");
  add("/reg:32", "", "InstalledInstances", "REG_MULTI_SZ", "MSSQLSERVER\\0SHOP\\0商店");
  add("/reg:32", "", "NoInstances", "REG_MULTI_SZ", "");
  const std::string below_root = base_.substr(std::string("HKEY_LOCAL_MACHINE").size());
  const std::string hklm = "hklm" + below_root, lower = "hkey_local_machine" + below_root;

  struct Text {
    std::string key, name;
    std::optional<std::string> value;
  };
  const Text texts[] = {
      {base_ + "\\Setup", "SQLDataRoot", "D:\\数据\\MSSQL$SHOP"},
      {hklm + "\\SETUP", "sqldataroot", "D:\\数据\\MSSQL$SHOP"},
      {base_ + "\\Setup", "Expandable", "%SystemRoot%\\Data"},  // as stored, not expanded
      {base_ + "\\Setup", "Empty", ""},
      {base_ + "\\Setup", "Count", std::nullopt},
      {base_, "InstalledInstances", std::nullopt},
      {base_ + "\\Setup", "DefaultDomain", std::nullopt},
      {base_ + "\\NoSuchKey", "SQLDataRoot", std::nullopt},
      {"HKEY_NOWHERE" + below_root + "\\Setup", "SQLDataRoot", std::nullopt},
  };
  for (const Text& t : texts) {
    SCOPED_TRACE(t.key + " " + t.name);
    std::string text = "stale";
    EXPECT_EQ(registry_->get_string(t.key, t.name, text), t.value.has_value());
    EXPECT_EQ(text, t.value.value_or(""));
  }

  const std::vector<std::string> three = {"MSSQLSERVER", "SHOP", "商店"};
  struct List {
    std::string key, name;
    bool found;
    std::vector<std::string> items;
  };
  const List lists[] = {
      {base_, "InstalledInstances", true, three},
      {lower, "installedINSTANCES", true, three},
      {base_, "NoInstances", true, {}},
      {base_ + "\\Setup", "SQLDataRoot", false, {}},
      {base_ + "\\Setup", "InstalledInstances", false, {}},
      {base_ + "\\NoSuchKey", "InstalledInstances", false, {}},
  };
  for (const List& l : lists) {
    SCOPED_TRACE(l.key + " " + l.name);
    std::vector<std::string> list{"stale"};
    EXPECT_EQ(registry_->get_multi_string(l.key, l.name, list), l.found);
    EXPECT_EQ(list, l.items);
  }
}

TEST_F(RegistryWin32Test, ThirtyTwoBitViewComesFirst) {
  for (auto [view, subkey, data] : {std::tuple{"/reg:64", "\\Only64", "C:\\Only64"},
                                    {"/reg:32", "\\Both", "C:\\From32"},
                                    {"/reg:64", "\\Both", "C:\\From64"},
                                    {"/reg:64", "\\Split", "C:\\Split64"},
                                    {"/reg:32", "\\Only32", "C:\\Only32"}})
    add(view, subkey, "SQLDataRoot", "REG_SZ", data);
  // The 32-bit key exists without the value; the 64-bit one has it.
  add("/reg:32", "\\Split", "Other", "REG_SZ", "x");
  add("/reg:64", "", "InstalledInstances", "REG_MULTI_SZ", "SHOP64");

  for (auto [subkey, want] : {std::pair{"\\Only64", "C:\\Only64"},
                              {"\\Both", "C:\\From32"},
                              {"\\Split", "C:\\Split64"},
                              {"\\Only32", "C:\\Only32"}}) {
    std::string text;
    EXPECT_TRUE(registry_->get_string(base_ + subkey, "SQLDataRoot", text)) << subkey;
    EXPECT_EQ(text, want);
  }
  std::vector<std::string> list;
  EXPECT_TRUE(registry_->get_multi_string(base_, "InstalledInstances", list));
  EXPECT_EQ(list, std::vector<std::string>{"SHOP64"});
  // A multi-string in the 32-bit view wins over the 64-bit one as well.
  add("/reg:32", "", "InstalledInstances", "REG_MULTI_SZ", "MSSQLSERVER\\0SHOP32");
  EXPECT_TRUE(registry_->get_multi_string(base_, "InstalledInstances", list));
  EXPECT_EQ(list, (std::vector<std::string>{"MSSQLSERVER", "SHOP32"}));
}

}  // namespace
}  // namespace dbsetup
