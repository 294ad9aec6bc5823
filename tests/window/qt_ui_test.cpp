#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <stdexcept>
#include <thread>

#include "window_harness.h"

namespace dbsetup {
namespace {

using testing::PaintCounter;
using testing::when_modal;
using testing::WindowHarness;

// Types `path` into the dialog's file name field and confirms, as the
// operator would. (selectFile() leaves the field alone while it has focus.)
void choose(QFileDialog* d, const QString& path) {
  auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(name, nullptr);
  name->setText(path);
  static_cast<QDialog*>(d)->accept();
}

TEST(QtWindowUi, ControlsByName) {
  WindowHarness h;
  QtWindowUi& ui = h.window->ui();
  ASSERT_TRUE(h.show());
  QCoreApplication::processEvents();

  // The status line is painted before any event loop runs again.
  PaintCounter counter(h.control("st_status"));
  ui.set_status("检测旧数据...");
  EXPECT_GE(counter.paints.load(), 1);
  EXPECT_EQ(h.control<QLabel>("st_status")->text(), "检测旧数据...");

  // The masked field hands back what was typed; unknown names are ignored.
  h.control<QLineEdit>("sle_mss2000_password")->setText("pa$$ 密码");
  EXPECT_EQ(ui.text("sle_mss2000_password"), "pa$$ 密码");
  EXPECT_EQ(ui.text("no_such_control"), "");
  ui.set_text("no_such_control", "x");

  // From another thread the calls are carried over to the window's thread.
  std::string seen;
  ui.run_blocking([&] {
    ui.set_text("sle_mss2000_userid", "admin");
    seen = ui.text("sle_mss2000_userid");
  });
  EXPECT_EQ(seen, "admin");
  EXPECT_EQ(h.control<QLineEdit>("sle_mss2000_userid")->text(), "admin");
  // A failure inside the call comes back to the caller. (That the window
  // paints and the bar moves meanwhile: window_e2e_test.)
  EXPECT_THROW(ui.run_blocking([] { throw std::runtime_error("lost"); }), std::runtime_error);

  // The busy pointer, set twice, goes with one reset.
  ui.set_busy(true);
  ui.set_busy(true);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  ui.set_busy(false);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // Filling and selecting through the interface raises no handler; the
  // operator's choice does.
  auto* combo = h.control<QComboBox>("ddplb_mss2000_instances");
  int notified = 0;
  QObject::connect(combo, &QComboBox::currentIndexChanged, [&](int) { ++notified; });
  ui.instance_add("默认实例");
  ui.instance_add("SHOP");
  ui.instance_select(2);
  EXPECT_EQ(ui.instance_count(), 2);
  EXPECT_EQ(ui.instance_text(), "SHOP");
  EXPECT_EQ(notified, 0);
  combo->setCurrentIndex(0);
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(h.window->form().is_mss2000_instance, "默认实例");
  h.window->hide();
}

// Keys and clicks that come during a database call are dropped, not kept
// for afterwards: Esc would close the window, a click start another install.
TEST(QtWindowUi, InputDuringABlockingCallIsDropped) {
  WindowHarness h;
  ASSERT_TRUE(h.show());
  QSignalSpy install(h.control<QPushButton>("cb_dbsetup"), &QPushButton::clicked);
  QSignalSpy closed(h.window.get(), &w_createdb::closed);
  std::atomic<bool> typed{false};
  QTimer::singleShot(0, h.window.get(), [&] {
    QTest::keyClick(h.control("sle_mss2000_userid"), Qt::Key_Escape);
    QTest::mouseClick(h.control("cb_dbsetup"), Qt::LeftButton);
    typed = true;
  });
  h.window->ui().run_blocking([&] {
    while (!typed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  QCoreApplication::processEvents();
  EXPECT_EQ(install.count(), 0);
  EXPECT_EQ(closed.count(), 0);
  EXPECT_TRUE(h.window->isVisible());
  h.window->hide();
}

TEST(QtWindowUi, MessageBoxesShowTitleTextIconAndButtons) {
  WindowHarness h;
  QtWindowUi& ui = h.window->ui();
  ui.message_box_hook = nullptr;  // the real boxes

  // A Yes/No box with No as the default: Enter takes No.
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  when_modal<QMessageBox>([&](QMessageBox* box) {
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_EQ(ui.message_box("系统严重警告", "数据库(shop)，已安装到此机器上，\n请确认",
                           MsgIcon::Exclamation, MsgButtons::YesNo, kNo),
            kNo);
  EXPECT_EQ(title, "系统严重警告");
  EXPECT_EQ(text, "数据库(shop)，已安装到此机器上，\n请确认");
  EXPECT_EQ(icon, QMessageBox::Warning);
  when_modal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
  EXPECT_EQ(ui.message_box("t", "q", MsgIcon::Question, MsgButtons::YesNo, kNo), kYes);

  // An information box with one OK button, shown with the arrow over the busy
  // window; the Windows line break shows as one break.
  ui.set_busy(true);
  bool only_ok = false;
  Qt::CursorShape during = Qt::WaitCursor;
  when_modal<QMessageBox>([&](QMessageBox* box) {
    text = box->text();
    icon = box->icon();
    only_ok = box->buttons().size() == 1 && box->button(QMessageBox::Ok);
    during = QApplication::overrideCursor()->shape();
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(ui.message_box("db_setup", "连接数据库失败!\r\n\n错误信息:Login failed",
                           MsgIcon::Information, MsgButtons::Ok, 1),
            1);
  EXPECT_EQ(text, "连接数据库失败!\n\n错误信息:Login failed");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_TRUE(only_ok);
  EXPECT_EQ(during, Qt::ArrowCursor);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  ui.set_busy(false);
}

// Qt's own texts are Chinese: the buttons of the message boxes from Qt's
// translation (installed by scripts/setup), and named by the window when it
// is missing; the file dialog's from the translation.
TEST(QtWindowUi, StandardButtonsReadChinese) {
  WindowHarness h;
  QtWindowUi& ui = h.window->ui();
  ui.message_box_hook = nullptr;
  auto captions = [&](MsgButtons buttons) {
    std::vector<std::string> seen;
    when_modal<QMessageBox>([&](QMessageBox* box) {
      for (QAbstractButton* b : box->buttons()) seen.push_back(b->text().toStdString());
      std::sort(seen.begin(), seen.end());
      box->button(buttons == MsgButtons::Ok ? QMessageBox::Ok : QMessageBox::No)->click();
    });
    ui.message_box("t", "q", MsgIcon::Question, buttons, kNo);
    return seen;
  };
  ASSERT_TRUE(qt_translations_installed()) << "qt6-translations-l10n is missing";
  for (bool translated : {true, false}) {
    SCOPED_TRACE(translated ? "Qt's translation" : "without it");
    if (!translated) {
      remove_qt_translations();
      QCoreApplication::processEvents();  // the widgets' language change
    }
    EXPECT_EQ(captions(MsgButtons::YesNo), (std::vector<std::string>{"否(&N)", "是(&Y)"}));
    EXPECT_EQ(captions(MsgButtons::Ok), std::vector<std::string>{"确定"});
  }
  EXPECT_TRUE(install_qt_translations());

  QString cancel;
  when_modal<QFileDialog>([&](QFileDialog* d) {
    for (auto* b : d->findChildren<QPushButton*>())
      if (b->text().contains(QStringLiteral("取消"))) cancel = b->text();
    d->reject();
  });
  EXPECT_EQ(h.window->ui().browse_for_folder("选择存放数据的目录："), "");
  EXPECT_FALSE(cancel.isEmpty());
}

TEST(QtWindowUi, PickersShowTheirCaptionAndReturnFullPaths) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  for (const char* name : {"shopbackup", "shop.dat", "shop.bak"}) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }

  // The one filter shows as "Data Files (*.*)" and matches names without a dot.
  QStringList filters = qt_name_filters("Data Files (*.*),*.*");
  ASSERT_EQ(filters.size(), 1);
  QString patterns = filters[0].mid(filters[0].lastIndexOf('(') + 1).chopped(1);
  for (const char* name : {"shopbackup", "shop.dat", "SHOP.BAK"})
    EXPECT_TRUE(QDir::match(patterns.split(' '), QString::fromLatin1(name))) << name;
  EXPECT_EQ(qt_name_filters("Backups,*.bak;*.dat,All,*.*").size(), 2);

  WindowHarness h;
  h.window->show();
  QString title, shown_filter;
  when_modal<QFileDialog>([&](QFileDialog* d) {
    title = d->windowTitle();
    shown_filter = d->selectedNameFilter();
    choose(d, dir.filePath("shopbackup"));
  });
  // Through the SQL Server 2000 file picker button.
  QTest::mouseClick(h.control("pb_mss2000data_backupfile"), Qt::LeftButton);
  EXPECT_EQ(title, "需装载的数据文件");
  EXPECT_TRUE(shown_filter.startsWith("Data Files (*.*)"));
  EXPECT_EQ(h.text("sle_mss2000data_backupfile"),
            QDir::toNativeSeparators(dir.filePath("shopbackup")).toStdString());

  // Cancel leaves the field as typed.
  h.window->ui().set_text("sle_mss2000data_backupfile", "typed.dat");
  when_modal<QFileDialog>([](QFileDialog* d) { d->reject(); });
  QTest::mouseClick(h.control("pb_mss2000data_backupfile"), Qt::LeftButton);
  EXPECT_EQ(h.text("sle_mss2000data_backupfile"), "typed.dat");

  // The folder chooser, through the SQL Server 7.0 page's button.
  ASSERT_TRUE(QDir(dir.path()).mkdir("数据"));
  h.window->ui().show_page(Page::mss7);
  when_modal<QFileDialog>([&](QFileDialog* d) {
    title = d->windowTitle();
    choose(d, dir.filePath("数据"));
  });
  QTest::mouseClick(h.control("pb_mss7data_setuppath"), Qt::LeftButton);
  EXPECT_EQ(title, "选择存放数据的目录：");
  EXPECT_EQ(h.text("sle_mss7data_setuppath"),
            QDir::toNativeSeparators(dir.filePath("数据")).toStdString());
  h.window->hide();
}

}  // namespace
}  // namespace dbsetup
