// The window driven by the keyboard, installing through the ODBC driver into
// the SQL Server stand-in.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <string>
#include <vector>

#include "e2e_install/expected_install.h"
#include "window_harness.h"

namespace dbsetup {
namespace {

using testing::StandinServer;
using testing::WindowHarness;

// Enter in the password field installs into the stand-in through ODBC; while
// the restore runs for three seconds, the window keeps painting, the bar
// moves and the install button is greyed.
TEST(WindowEndToEnd, EnterInstallsWhileTheWindowPaintsAndTheBarMoves) {
  StandinServer server({"--restore-seconds", "3"});
  WindowHarness h(make_odbc_client());
  h.open("mss2000");
  QtWindowUi& ui = h.window->ui();
  ui.set_text("sle_mss2000_servername", server.address());
  ui.set_text("sle_mss2000_password", "SECRET");
  ui.set_text("sle_mss2000data_setuppath", server.files_root());
  ui.set_text("sle_mss2000data_backupfile", server.make_backup("nuvex", "shop_data", "shop_log"));
  ASSERT_TRUE(h.show());
  auto* bar = h.control<QProgressBar>("hpb_restore");
  auto* title = h.control<QLabel>("st_title1");

  // While the restore runs: a timer asks for repaints and samples the bar.
  testing::PaintCounter counter(title);
  std::vector<int> seen;
  int paints_while_restoring = 0;
  bool button_enabled = false;
  QWidget* button = h.control("cb_dbsetup");
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (!bar->isVisible()) return;
    button_enabled = button_enabled || button->isEnabled();
    seen.push_back(bar->value());
    paints_while_restoring = counter.paints.load();
    title->update();
  });
  ticker.start(50);

  QElapsedTimer clock;
  clock.start();
  QWidget* password = h.control("sle_mss2000_password");
  password->setFocus();
  QTest::keyClick(password, Qt::Key_Return);
  ticker.stop();

  EXPECT_GE(clock.elapsed(), 3000);
  EXPECT_EQ(h.text("st_status"), "数据库安装成功!");
  ASSERT_FALSE(h.boxes.empty());
  EXPECT_EQ(h.boxes.back().text, "数据库安装成功!");
  EXPECT_FALSE(h.control("cb_dbsetup")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  ASSERT_GE(seen.size(), 20u);  // the bar showed for the length of the restore
  EXPECT_LT(seen.front(), seen.back());
  EXPECT_GE(seen.back(), 90);
  EXPECT_GE(paints_while_restoring, 20);
  EXPECT_FALSE(button_enabled);
  EXPECT_FALSE(bar->isVisible());
  const std::vector<std::string> sent = server.statements();
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                          [](const std::string& s) { return s.rfind("RESTORE DATABASE", 0) == 0; }),
            1);
  EXPECT_TRUE(testing::find(server, "databases", "shopdb").is_object()) << server.state().dump(2);
}

}  // namespace
}  // namespace dbsetup
