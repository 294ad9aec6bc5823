#include "install/statements.h"

#include <gtest/gtest.h>

#include <string>

#include "install/progress.h"

namespace dbsetup {
namespace {

TEST(Statements, LoginNameArgumentStaysBareOnlyForPlainIdentifiers) {
  EXPECT_EQ(sql::drop_login("zq"), "sp_droplogin zq");
  EXPECT_EQ(sql::drop_login("app_user2"), "sp_droplogin app_user2");
  // Keywords would be read as such: NULL drops nothing, DEFAULT neither.
  EXPECT_EQ(sql::drop_login("null"), "sp_droplogin [null]");
  EXPECT_EQ(sql::drop_login("Default"), "sp_droplogin [Default]");
  EXPECT_EQ(sql::drop_login("a b"), "sp_droplogin [a b]");
  EXPECT_EQ(sql::drop_login("2fast"), "sp_droplogin [2fast]");
  EXPECT_EQ(sql::drop_login("@v"), "sp_droplogin [@v]");
  EXPECT_EQ(sql::drop_login("x]; shutdown --"), "sp_droplogin [x]]; shutdown --]");
  EXPECT_EQ(sql::drop_login("收银"), "sp_droplogin [收银]");
  EXPECT_EQ(sql::drop_login(""), "sp_droplogin []");
}

TEST(RestorePercent, ReadsTheServersProgressMessagesAndNothingElse) {
  EXPECT_EQ(restore_percent("10 percent processed."), 10);
  EXPECT_EQ(restore_percent("0 percent processed."), 0);
  EXPECT_EQ(restore_percent("100 percent processed."), 100);
  EXPECT_EQ(restore_percent("  7  percent processed"), 7);
  EXPECT_EQ(restore_percent("007 percent processed."), 7);

  for (const std::string_view text : std::initializer_list<std::string_view>{
           "", "101 percent processed.", "1000 percent processed.",
           "99999999999999999999 percent processed.", "-5 percent processed.",
           "10percent processed.", "10 percent",
           "Processed 160 pages for database 'x', file 'x_Data'.",
           "RESTORE DATABASE successfully processed 161 pages.", "percent processed.",
           std::string_view("10", 2)})
    EXPECT_EQ(restore_percent(text), std::nullopt) << text;
}

}  // namespace
}  // namespace dbsetup
