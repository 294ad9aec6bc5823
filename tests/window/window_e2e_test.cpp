// The window driven by the keyboard, installing through the ODBC driver into
// the SQL Server stand-in.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "support/standin_process.h"
#include "window_harness.h"

namespace dbsetup {
namespace {

using testing::StandinServer;
using testing::WindowHarness;

// The SQL Server 2000 window opened on a machine whose dbinstall.ini names
// the database nuvex, its fields pointed at the stand-in.
struct WindowOnServer {
  explicit WindowOnServer(std::vector<std::string> server_args = {})
      : server(std::move(server_args)), h(make_odbc_client()) {
    backup = server.make_backup("nuvex", "shop_data", "shop_log");
    testing::fake_machine(h.fake, "mss2000", "nuvex");
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

  StandinServer server;
  WindowHarness h;
  std::string backup;
};

TEST(WindowEndToEnd, EnterInstallsThroughOdbc) {
  WindowOnServer w;
  w.press_enter();

  EXPECT_EQ(w.h.text("st_status"), "数据库安装成功!");
  EXPECT_FALSE(w.h.control("cb_dbsetup")->isEnabled());
  ASSERT_FALSE(w.h.boxes.empty());
  EXPECT_EQ(w.h.boxes.back().text, "数据库安装成功!");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_FALSE(w.h.control("hpb_restore")->isVisible());
  const std::vector<std::string> sent = w.server.statements();
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                          [](const std::string& s) { return s.rfind("RESTORE DATABASE", 0) == 0; }),
            1);
  bool created = false;
  const nlohmann::json state = w.server.state();
  for (const auto& db : state["databases"]) created |= db.value("name", "") == "nuvex";
  EXPECT_TRUE(created);
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

}  // namespace
}  // namespace dbsetup
