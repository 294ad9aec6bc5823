// Servers that stop talking, at the logon or in the middle of a restore: the
// run must end on its own soon after the (shortened) timeout, with a text the
// operator can read.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/odbc_text.h"
#include "support/install_run.h"

namespace dbsetup::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class SilentServer : public ::testing::TestWithParam<Page> {};

TEST_P(SilentServer, ALogonNeverAnsweredFailsAfterTheLoginTimeout) {
  const Page edition = GetParam();
  RunSettings quick;
  quick.login_timeout_seconds = 2;
  InstallRun in(edition, {"--silent-logon"}, {}, quick);
  EXPECT_EQ(in.run(), -1);

  // The driver gives up after the timeout, not at once and not much later.
  EXPECT_GE(in.elapsed, milliseconds(1900));
  EXPECT_LT(in.elapsed, seconds(20)) << "the logon waited far beyond its 2 s timeout";
  EXPECT_EQ(in.ui.statuses().back(), "连接数据库失败!");
  EXPECT_FALSE(in.ui.busy());
  EXPECT_FALSE(in.sqlca.connected());

  // The server heard the client and said nothing.
  const auto log = in.server.log();
  EXPECT_TRUE(
      std::any_of(log.begin(), log.end(), [](auto& e) { return e.value("silent", false); }));
  EXPECT_TRUE(in.server.statements().empty());

  EXPECT_EQ(in.ok_boxes().size(), 1u);
  EXPECT_EQ(in.failure_text(),
            std::string("连接数据库失败!\r\n\n错误信息:Timeout expired\nUnable to connect to data "
                        "source") +
                kUnreachableHint);
}

TEST_P(SilentServer, ARestoreThatHangsEndsWithMinus10) {
  const Page edition = GetParam();
  RunSettings quick;
  quick.silence_timeout_seconds = 2;
  InstallRun in(edition, {"--stall-restore-at", "50", "--restore-seconds", "1"}, {}, quick);
  EXPECT_EQ(in.run(), -10);

  // FreeTDS cancels after one silence and, the cancel unanswered too, closes
  // the connection after a second one: two timeouts and a little.
  EXPECT_GE(in.elapsed, seconds(4));
  EXPECT_LT(in.elapsed, seconds(30)) << "the hung restore outlived two 2 s silences by far";

  EXPECT_EQ(in.ok_boxes().size(), 1u);
  EXPECT_EQ(in.failure_text(), "装载数据失败!\r\n\n错误信息:Timeout expired");
  EXPECT_EQ(in.ui.statuses().back(), "装载数据失败!");

  // The bar went up to where the server stopped, then away.
  EXPECT_EQ(in.progress(), (std::vector<int>{0, 10, 20, 30, 40, 50, -1}));
  EXPECT_FALSE(in.ui.busy());
  EXPECT_FALSE(in.sqlca.connected());

  // The hung server sees the client leave: the connection was closed, not
  // left open behind the failure. (It logs the restore only then.)
  bool closed = false;
  for (int i = 0; i < 30 && !closed; ++i) {
    for (const auto& e : in.server.log())
      closed = closed || (e.value("statement", "").rfind("RESTORE DATABASE", 0) == 0 &&
                          e["outcome"].value("cancelled", false));
    if (!closed) std::this_thread::sleep_for(milliseconds(100));
  }
  EXPECT_TRUE(closed);
}

INSTANTIATE_TEST_SUITE_P(Editions, SilentServer, ::testing::Values(Page::mss2000, Page::mss7),
                         [](const ::testing::TestParamInfo<Page>& info) {
                           return std::string(page_name(info.param));
                         });

// The silence bound is per wait, not per statement: a restore that takes twice
// the bound but reports every few tenths of a second runs to its end.
TEST(SlowServer, ARestoreThatKeepsReportingIsNotCutOff) {
  RunSettings quick;
  quick.silence_timeout_seconds = 2;
  InstallRun in(Page::mss2000, {"--restore-seconds", "4"}, {}, quick);
  EXPECT_EQ(in.run(), 0);
  EXPECT_GE(in.elapsed, seconds(4));
  EXPECT_EQ(in.progress(), (std::vector<int>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, -1}));
  EXPECT_EQ(in.ui.statuses().back(), kSuccess);
  ASSERT_EQ(in.ok_boxes().size(), 1u);
  EXPECT_EQ(in.ok_boxes()[0].value, kSuccess);
}

}  // namespace
}  // namespace dbsetup::testing
