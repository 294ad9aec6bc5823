#include "app/transaction.h"

#include <gtest/gtest.h>

#include "app/application.h"
#include "support/fake_platform.h"

namespace dbsetup {
namespace {

using testing::FakePlatform;

// What a logon passes on to the client: the install tests' CONNECT lines.
TEST(Transaction, KeepsTheLastResults) {
  FakePlatform fake;
  fake.on("^CONNECT bad @", DbResult::failure(18456, "Login failed for user 'bad'."));
  fake.on("^oops", DbResult::failure(102, "Incorrect syntax near 'oops'."));
  Transaction sqlca(fake.platform.make_db_client());
  sqlca.logid = "bad";
  sqlca.connect();
  EXPECT_EQ(sqlca.sqlcode, -1);
  EXPECT_EQ(sqlca.sqldbcode, 18456);
  EXPECT_EQ(sqlca.sqlerrtext, "Login failed for user 'bad'.");

  sqlca.logid = "sa";
  sqlca.connect();
  EXPECT_EQ(sqlca.sqlcode, 0);
  EXPECT_EQ(sqlca.sqlerrtext, "");
  sqlca.execute_immediate("oops");
  EXPECT_EQ(sqlca.sqlcode, -1);
  EXPECT_EQ(sqlca.sqldbcode, 102);

  std::string value = "kept";
  sqlca.select_one("SELECT name FROM x WHERE y = ?", "p", value);
  EXPECT_EQ(sqlca.sqlcode, 100);
  EXPECT_EQ(value, "kept");  // no row leaves the target alone
}

TEST(Transaction, WithoutABackendEveryOperationFails) {
  Transaction sqlca;
  sqlca.connect();
  EXPECT_EQ(sqlca.sqlcode, -1);
  EXPECT_FALSE(sqlca.sqlerrtext.empty());
  sqlca.disconnect();  // harmless
  EXPECT_EQ(sqlca.sqlcode, 0);
}

TEST(Application, OpenRunsTheWindowWhateverTheCommandLine) {
  FakePlatform fake;
  Application app(fake.platform);
  app.create();
  ASSERT_TRUE(app.has_sqlca());
  int seen = 0;
  EXPECT_EQ(app.open({"--edition", "mss7", "junk"}, [&](Application&) { return ++seen; }), 1);
  app.destroy();
  EXPECT_FALSE(app.has_sqlca());
}

}  // namespace
}  // namespace dbsetup
