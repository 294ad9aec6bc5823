// The window driven by the keyboard, installing through the ODBC driver into
// the SQL Server stand-in.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "support/standin_process.h"
#include "window_harness.h"

namespace dbsetup {
namespace {

using testing::StandinServer;
using testing::WindowHarness;

// The SQL Server 2000 window opened on a machine whose dbinstall.ini names
// the database `dbname`, its fields pointed at the stand-in.
struct WindowOnServer {
  explicit WindowOnServer(std::vector<std::string> server_args = {})
      : server(std::move(server_args)), h(make_odbc_client()) {
    backup = server.make_backup("nuvex", "nuvex_Data", "nuvex_Log");
    h.install_mss2000("nuvex");
    h.fake.profile.set("C:\\setup\\dbinstall.ini", "database", "dataname", "nuvex_Data");
    h.fake.profile.set("C:\\setup\\dbinstall.ini", "database", "logname", "nuvex_Log");
    EXPECT_TRUE(h.window->open("mss2000"));
    QtWindowUi& ui = h.window->ui();
    ui.set_text("sle_mss2000_servername", server.address());
    ui.set_text("sle_mss2000_password", "SECRET");
    ui.set_text("sle_mss2000data_setuppath", server.files_root());
    ui.set_text("sle_mss2000data_backupfile", backup);
    h.window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(h.window.get()));
  }

  // Enter in the password field, as the operator would start the install.
  void press_enter() {
    QWidget* password = h.control("sle_mss2000_password");
    password->setFocus();
    QTest::keyClick(password, Qt::Key_Return);
  }

  size_t statements_starting(const std::string& prefix) const {
    size_t n = 0;
    for (const std::string& s : server.statements()) n += s.rfind(prefix, 0) == 0;
    return n;
  }

  StandinServer server;
  WindowHarness h;
  std::string backup;
};

TEST(WindowEndToEnd, EnterInstallsAndThenTheButtonIsGreyed) {
  WindowOnServer w;
  w.press_enter();

  EXPECT_EQ(w.h.text("st_status"), "数据库安装成功!");
  EXPECT_FALSE(w.h.control("cb_dbsetup")->isEnabled());
  ASSERT_FALSE(w.h.boxes.empty());
  EXPECT_EQ(w.h.boxes.back().text, "数据库安装成功!");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(w.h.control("hpb_restore")->isVisible());
  EXPECT_EQ(w.statements_starting("RESTORE DATABASE"), 1u);
  bool created = false;
  const nlohmann::json state = w.server.state();
  for (const auto& db : state["databases"]) created |= db.value("name", "") == "nuvex";
  EXPECT_TRUE(created);

  // Enter no longer starts anything.
  const size_t sent = w.server.statements().size();
  w.press_enter();
  EXPECT_EQ(w.server.statements().size(), sent);
}

TEST(WindowEndToEnd, SlowRestoreKeepsTheWindowPaintingAndTheBarMoving) {
  WindowOnServer w({"--restore-seconds", "3"});
  auto* bar = w.h.control<QProgressBar>("hpb_restore");
  auto* title = w.h.control<QLabel>("st_title1");

  // While the restore runs: a timer asks for repaints and samples the bar.
  testing::PaintCounter counter(title);
  std::vector<int> seen;
  int paints_while_restoring = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (!bar->isVisible()) return;
    seen.push_back(bar->value());
    paints_while_restoring = counter.paints.load();
    title->update();
  });
  ticker.start(50);

  QElapsedTimer clock;
  clock.start();
  w.press_enter();
  ticker.stop();

  EXPECT_GE(clock.elapsed(), 3000);
  EXPECT_EQ(w.h.text("st_status"), "数据库安装成功!");
  ASSERT_GE(seen.size(), 20u);  // the bar showed for the length of the restore
  EXPECT_LT(seen.front(), seen.back());
  EXPECT_GE(seen.back(), 90);
  EXPECT_GE(paints_while_restoring, 20);
  EXPECT_FALSE(bar->isVisible());
}

TEST(WindowEndToEnd, FailedInstallCanBeStartedAgainFromTheFirstStage) {
  // The first restore fails after the database was created.
  WindowOnServer w({"--fail-nth", "1:^RESTORE DATABASE:3013:RESTORE DATABASE is terminating."});
  w.press_enter();

  EXPECT_EQ(w.h.text("st_status"), "装载数据失败!");
  EXPECT_TRUE(w.h.control("cb_dbsetup")->isEnabled());
  ASSERT_FALSE(w.h.boxes.empty());
  EXPECT_EQ(w.h.boxes.back().text.rfind("装载数据失败!\r\n\n错误信息:", 0), 0u);
  EXPECT_EQ(w.statements_starting("SELECT name FROM sysdatabases"), 1u);

  // The second press runs from the logon on: the database the first run
  // created is found and, once the operator agrees, dropped.
  w.h.boxes.clear();
  w.h.answer = [](const testing::ShownBox& box) {
    return box.buttons == MsgButtons::YesNo ? kYes : 1;
  };
  w.press_enter();
  EXPECT_EQ(w.statements_starting("SELECT name FROM sysdatabases"), 2u);
  EXPECT_EQ(w.statements_starting("Drop DATABASE"), 1u);
  ASSERT_FALSE(w.h.boxes.empty());
  EXPECT_EQ(w.h.boxes.front().title, "系统严重警告");
  EXPECT_EQ(w.h.text("st_status"), "数据库安装成功!");
  EXPECT_FALSE(w.h.control("cb_dbsetup")->isEnabled());
}

}  // namespace
}  // namespace dbsetup
