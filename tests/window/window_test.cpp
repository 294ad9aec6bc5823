#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <cmath>

#include "app/application.h"
#include "detect/opening.h"
#include "window_harness.h"

namespace dbsetup {
namespace {

using testing::WindowHarness;

// The stored layout as the operator sees it, top to bottom per parent:
// parent, name, Qt class, text (nullptr: not checked; a label without one
// shows a picture), x, y, width, height (-1: not checked) in layout units,
// font face (nullptr: none), points, and its looks: B bold, M masked, D display only (read-only, no
// frame, button-face background), R read-only with its frame, X disabled.
struct Expect {
  const char* parent;
  const char* name;
  const char* kind;
  const char* text;
  int x, y, w, h;
  const char* face;
  int points;
  std::string_view looks = "";
};

const char* const kWin = "";
const char* const kP7 = "tabpage_mss7";
const char* const kP2 = "tabpage_mss2000";
const char* const kS = "宋体";
const char* const kA = "Arial";

// clang-format off
const Expect kLayout[] = {
    {kWin, "st_12", "QLabel", "", 0, 0, 2359, 236, kA, 9},
    {kWin, "p_2", "QLabel", nullptr, 1591, 16, 654, 200, nullptr, 0},
    {kWin, "st_title1", "QLabel", "", 78, 28, 1408, 60, kS, 9, "B"},
    {kWin, "st_title2", "QLabel", "", 78, 88, 1408, 60, kS, 9, "B"},
    {kWin, "gb_1", "QGroupBox", "", 0, 236, 2377, 8, kA, 12},
    {kWin, "tab_1", "QTabWidget", nullptr, 9, 132, 2345, 1472, kA, 9},
    {kWin, "st_status", "QLabel", "", 59, 1460, 2235, 120, kS, 12},
    {kWin, "cb_dbsetup", "QPushButton", "安装(&S)", 1531, 1632, 384, 88, kS, 9},
    {kWin, "cb_exit", "QPushButton", "退出(&X)", 1961, 1632, 384, 88, kS, 9},
    {kP7, "gb_2", "QGroupBox", "文件/目录选择", 23, 76, 2258, 644, kS, 9},
    {kP7, "st_7", "QLabel", "数据库默认的数据存放目录：", 96, 204, 722, 56, kS, 9},
    {kP7, "sle_mss7data_defaultpath", "QLineEdit", "", 805, 188, 1358, 88, kA, 9, "D"},
    {kP7, "st_8", "QLabel", "请选择数据的存放目录：", 91, 324, 722, 56, kS, 9},
    {kP7, "sle_mss7data_setuppath", "QLineEdit", "", 805, 304, 1358, 88, kA, 9},
    {kP7, "pb_mss7data_setuppath", "QToolButton", nullptr, 2167, 300, 91, 88, kA, 9},
    {kP7, "st_9", "QLabel", "本次需装载的数据文件：", 91, 444, 722, 56, kS, 9},
    {kP7, "sle_mss7data_backupfile", "QLineEdit", "", 805, 424, 1358, 88, kA, 9, "R"},
    {kP7, "pb_mss7data_backupfile", "QToolButton", nullptr, 2167, 424, 91, 88, kA, 9},
    {kP7, "st_dbname", "QLabel", "本次装载的数据库名称：", 91, 560, 727, 56, kS, 9},
    {kP7, "sle_dbname", "QLineEdit", "tavox", 805, 544, 1358, 88, kA, 9},
    {kP7, "st_message", "QLabel", "注意修改OPEN事件的实例变量", 5, 656, 2382, 164, kA, 24},
    {kP7, "gb_3", "QGroupBox", "数据库服务器登录选项", 23, 812, 2258, 504, kS, 9},
    {kP7, "p_1", "QLabel", nullptr, 119, 1056, 165, 144, nullptr, 0},
    {kP7, "st_10", "QLabel", "MSS SQL 7.0 数据库服务器IP地址：", 91, 948, 901, 76, kS, 9},
    {kP7, "sle_mss7_servername", "QLineEdit", "", 1006, 932, 1129, 88, kA, 9},
    {kP7, "st_11", "QLabel", "系统管理员登录名：", 91, 1048, 901, 84, kS, 9},
    {kP7, "sle_mss7_userid", "QLineEdit", "sa", 1006, 1032, 1129, 88, kA, 9},
    {kP7, "st_17", "QLabel", "登录密码：", 91, 1144, 901, 72, kS, 9},
    {kP7, "sle_mss7_password", "QLineEdit", "", 1006, 1132, 1129, 88, kA, 9, "M"},
    {kP2, "st_1", "QLabel", "本次将数据库装载到MS SQL Server 2000的哪一个 实例：", 32, 100, 1527, 76, kS, 9},
    {kP2, "ddplb_mss2000_instances", "QComboBox", nullptr, 1568, 84, 713, -1, kA, 9},
    {kP2, "gb_21", "QGroupBox", "文件/目录选择", 23, 212, 2258, 616, kS, 9},
    {kP2, "st_100", "QLabel", "数据库默认的数据存放目录：", 91, 332, 713, 56, kS, 9},
    {kP2, "sle_mss2000data_defaultpath", "QLineEdit", "", 786, 312, 1367, 88, kA, 9, "D"},
    {kP2, "st_29", "QLabel", "请选择数据的存放目录：", 91, 452, 713, 56, kS, 9},
    {kP2, "sle_mss2000data_setuppath", "QLineEdit", "", 786, 436, 1367, 88, kA, 9},
    {kP2, "pb_mss2000data_setuppath", "QToolButton", nullptr, 2158, 432, 91, 88, kA, 9},
    {kP2, "st_30", "QLabel", "本次需装载的数据文件：", 91, 572, 713, 56, kS, 9},
    {kP2, "sle_mss2000data_backupfile", "QLineEdit", "", 786, 560, 1367, 88, kA, 9},
    {kP2, "pb_mss2000data_backupfile", "QToolButton", nullptr, 2158, 560, 91, 88, kA, 9},
    {kP2, "st_2", "QLabel", "本次装载的数据库名称：", 91, 700, 727, 56, kS, 9},
    {kP2, "sle_dbname_2000", "QLineEdit", "nuvex", 786, 684, 1367, 88, kA, 9, "X"},
    {kP2, "gb_22", "QGroupBox", "数据库服务器登录选项", 23, 860, 2258, 336, kS, 9},
    {kP2, "p_21", "QLabel", nullptr, 183, 1028, 165, 144, nullptr, 0},
    {kP2, "st_21", "QLabel", "MSS SQL 2000 数据库服务器IP地址：", 91, 956, 951, 76, kS, 9},
    {kP2, "sle_mss2000_servername", "QLineEdit", "", 1051, 944, 1088, 84, kA, 9},
    {kP2, "st_22", "QLabel", "系统管理员登录名：", 142, 1056, 901, 76, kS, 9},
    {kP2, "sle_mss2000_userid", "QLineEdit", "sa", 1051, 1044, 361, 88, kA, 9},
    {kP2, "st_23", "QLabel", "登录密码：", 1399, 1056, 338, 76, kS, 9},
    {kP2, "sle_mss2000_password", "QLineEdit", "", 1751, 1044, 389, 88, kA, 9, "M"},
};
// clang-format on

QString shown_text(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  return {};
}

TEST(WindowLayout, EveryControlHasItsKindTextFontAndPlace) {
  WindowHarness h;
  for (const Expect& e : kLayout) {
    SCOPED_TRACE(e.name);
    QWidget* w = h.control(e.name);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->metaObject()->className(), e.kind);
    auto* label = qobject_cast<QLabel*>(w);
    EXPECT_TRUE(!label || label->pixmap().isNull() == (e.text != nullptr));
    auto* button = qobject_cast<QToolButton*>(w);
    EXPECT_TRUE(!button || !button->icon().isNull());
    QWidget* parent = *e.parent ? h.control(e.parent) : h.window.get();
    EXPECT_EQ(w->parentWidget(), parent);
    if (e.text) {
      EXPECT_EQ(shown_text(w).toStdString(), e.text);
    }
    auto is = [&](char look) { return e.looks.find(look) != std::string_view::npos; };
    if (e.face) {
      EXPECT_EQ(w->font().families().value(0).toStdString(), e.face);
      EXPECT_EQ(w->font().pointSize(), e.points);
      EXPECT_EQ(w->font().bold(), is('B'));
    }
    EXPECT_EQ(w->isEnabled(), !is('X'));
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      EXPECT_EQ(edit->echoMode(), is('M') ? QLineEdit::Password : QLineEdit::Normal);
      EXPECT_EQ(edit->isReadOnly(), is('D') || is('R'));
      EXPECT_EQ(edit->hasFrame(), !is('D'));
      const QPalette& p = w->palette();
      EXPECT_EQ(
          p.color(QPalette::Active, QPalette::Base) == p.color(QPalette::Active, QPalette::Button),
          is('D'));
    }
    const QRect g = w->geometry();
    if (layout::find_control(e.name)->flags & layout::kFieldLabel) {
      // A field label holds its place, grown where its text line (on its
      // field's line) needs it.
      EXPECT_TRUE(g.contains(layout_rect(e.x, e.y, e.w, e.h))) << g.y() << " " << g.height();
      EXPECT_LE(g.height(), e.h / 4 + w->fontMetrics().height());
      continue;
    }
    EXPECT_LE(std::abs(g.x() - e.x / 4.57), 1.0) << g.x();
    EXPECT_LE(std::abs(g.y() - e.y / 4.0), 1.0) << g.y();
    EXPECT_LE(std::abs(g.width() - e.w / 4.57), 1.0) << g.width();
    if (e.h > 0) {
      EXPECT_LE(std::abs(g.height() - e.h / 4.0), 1.0) << g.height();
    }
  }

  // The logo at its own size; the small pictures 19 by 19.
  EXPECT_EQ(h.control<QLabel>("p_2")->pixmap().size(), QSize(143, 50));
  EXPECT_EQ(h.control<QLabel>("p_1")->pixmap().size(), QSize(19, 19));
  EXPECT_EQ(h.control<QToolButton>("pb_mss2000data_backupfile")->iconSize(), QSize(19, 19));

  // The tab pages and their captions, in this order; headers not stretched.
  auto* tab = h.control<QTabWidget>("tab_1");
  ASSERT_EQ(tab->count(), 2);
  EXPECT_EQ(tab->widget(0), h.control("tabpage_mss7"));
  EXPECT_EQ(tab->widget(1), h.control("tabpage_mss2000"));
  EXPECT_EQ(tab->tabText(0), "MSS7.0");
  EXPECT_EQ(tab->tabText(1), "MSS2000");
  EXPECT_FALSE(tab->tabBar()->expanding());

  // Colours: navy captions and text, the red note.
  const QColor navy(0, 0, 128);
  for (const char* name : {"st_1", "gb_2", "gb_3", "gb_21", "gb_22"})
    EXPECT_EQ(h.control(name)->palette().color(QPalette::WindowText), navy) << name;
  EXPECT_EQ(h.control("st_message")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_NE(h.control("st_7")->palette().color(QPalette::WindowText), navy);

  // The dropped instance list reaches about 1068 units and has a scroll bar.
  auto* combo = h.control<QComboBox>("ddplb_mss2000_instances");
  int row = combo->fontMetrics().height();
  EXPECT_GE(combo->maxVisibleItems() * row, 1068 / 4 * 2 / 3);
  EXPECT_LE(combo->maxVisibleItems() * row, 1068 / 4);
}

TEST(WindowLayout, ButtonsFrameAndStoredPage) {
  WindowHarness h;
  // Default and cancel buttons.
  EXPECT_TRUE(h.control<QPushButton>("cb_dbsetup")->isDefault());
  EXPECT_FALSE(h.control<QPushButton>("cb_exit")->isDefault());

  // Fixed size, title bar and system menu, no minimise or maximise box.
  EXPECT_EQ(h.window->minimumSize(), h.window->maximumSize());
  EXPECT_EQ(h.window->size(), client_size());
  const Qt::WindowFlags frame = Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
  EXPECT_EQ(h.window->windowFlags() & (frame | Qt::WindowMinMaxButtonsHint), frame);

  // Centred on the screen when it shows.
  h.window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(h.window.get()));
  QPoint off =
      h.window->frameGeometry().center() - h.window->screen()->availableGeometry().center();
  EXPECT_LE(off.manhattanLength(), 2) << off.x() << "," << off.y();
  h.window->hide();

  // The stored state: only the SQL Server 2000 page, and it is selected.
  auto* tab = h.control<QTabWidget>("tab_1");
  EXPECT_FALSE(tab->isTabVisible(0));
  EXPECT_TRUE(tab->isTabVisible(1));
  EXPECT_EQ(tab->currentWidget(), h.control("tabpage_mss2000"));
  EXPECT_FALSE(h.control("hpb_restore")->isVisibleTo(h.window.get()));
}

// Where two controls overlap, the one created earlier lies in front.
TEST(WindowLayout, EarlierCreatedControlsLieInFront) {
  WindowHarness h;
  auto in_front = [&](const char* a, const char* b) {
    QWidget* wa = h.control(a);
    QWidget* wb = h.control(b);
    const QObjectList& siblings = wa->parentWidget()->children();
    return siblings.indexOf(wa) > siblings.indexOf(wb);  // later child = painted on top
  };
  // The control in front, the control behind it.
  const std::pair<const char*, const char*> overlaps[] = {{"st_title1", "st_12"},
                                                          {"p_2", "st_12"},
                                                          {"st_status", "tab_1"},
                                                          {"st_title2", "st_title1"},
                                                          {"st_message", "gb_2"},
                                                          {"sle_dbname", "st_dbname"},
                                                          {"gb_21", "sle_mss2000data_setuppath"},
                                                          {"p_21", "st_22"}};
  for (auto [front, behind] : overlaps) EXPECT_TRUE(in_front(front, behind)) << front;

  // What lies in front of a field must not catch the mouse meant for it.
  h.window->show();
  auto* page = h.control("tabpage_mss2000");
  auto* setup = h.control("sle_mss2000data_setuppath");
  QPoint inside = setup->geometry().center();
  EXPECT_EQ(page->childAt(inside), setup);
  auto* dbname = h.control("sle_dbname_2000");
  EXPECT_EQ(page->childAt(dbname->geometry().topLeft() + QPoint(2, 8)), dbname);
  h.window->hide();
}

std::vector<std::string> tab_walk(QWidget* window, QWidget* start, int steps) {
  std::vector<std::string> seen;
  start->setFocus(Qt::TabFocusReason);
  for (int i = 0; i < steps; ++i) {
    QWidget* f = window->focusWidget();
    if (!f) break;
    // The tab control takes focus on its tab bar.
    if (qobject_cast<QTabBar*>(f)) f = f->parentWidget();
    seen.push_back(f->objectName().toStdString());
    QTest::keyClick(f, Qt::Key_Tab);
  }
  return seen;
}

TEST(WindowLayout, TabKeyVisitsTheInputControlsInTheirOrder) {
  WindowHarness h;
  h.window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(h.window.get()));

  EXPECT_EQ(
      tab_walk(h.window.get(), h.control("ddplb_mss2000_instances"), 13),
      (std::vector<std::string>{
          "ddplb_mss2000_instances", "sle_mss2000data_defaultpath", "sle_mss2000data_setuppath",
          "pb_mss2000data_setuppath", "sle_mss2000data_backupfile", "pb_mss2000data_backupfile",
          "sle_mss2000_servername", "sle_mss2000_userid", "sle_mss2000_password", "cb_dbsetup",
          "cb_exit", "tab_1", "ddplb_mss2000_instances"}));

  h.window->ui().show_page(Page::mss7);
  EXPECT_EQ(
      tab_walk(h.window.get(), h.control("sle_mss7data_setuppath"), 12),
      (std::vector<std::string>{"sle_mss7data_setuppath", "sle_dbname", "pb_mss7data_setuppath",
                                "sle_mss7data_backupfile", "pb_mss7data_backupfile",
                                "sle_mss7_servername", "sle_mss7_userid", "sle_mss7_password",
                                "cb_dbsetup", "cb_exit", "tab_1", "sle_mss7data_setuppath"}));
  h.window->hide();
}

// What detection fills in is checked on the fake window (tests/detect); here
// what each edition shows in the Qt window.
TEST(WindowOpening, EachEditionShowsItsPageAndTitles) {
  const std::string name = display_name();
  struct Case {
    std::string edition, title, title2;
    int page;
  };
  for (const Case& c :
       {Case{"mss2000", name, "Microsoft SQL Server 2000", 1},
        Case{"mss7", name + "(Microsoft SQL Server 7.0)", "Microsoft SQL Server 7.0", 0}}) {
    SCOPED_TRACE(c.edition);
    WindowHarness h;
    h.open(c.edition);
    EXPECT_EQ(h.window->windowTitle().toStdString(), c.title);
    EXPECT_EQ(h.text("st_title1"), "欢迎使用" + name + "!");
    EXPECT_EQ(h.text("st_title2"), c.title2);
    auto* tab = h.control<QTabWidget>("tab_1");
    EXPECT_EQ(tab->isTabVisible(0), c.page == 0);
    EXPECT_EQ(tab->isTabVisible(1), c.page == 1);
    EXPECT_EQ(tab->currentIndex(), c.page);
    // The one field the operator must type has the focus.
    EXPECT_EQ(h.window->focusWidget()->objectName().toStdString(),
              "sle_" + c.edition + "_password");
    EXPECT_EQ(h.text("sle_mss2000_servername"), "127.0.0.1");
    // The instance list shows its entries with their icon, the first chosen.
    auto* combo = h.control<QComboBox>("ddplb_mss2000_instances");
    ASSERT_EQ(combo->count(), c.page == 1 ? 2 : 0);
    if (c.page == 1) {
      EXPECT_EQ(combo->itemText(1), "SHOP");
      EXPECT_FALSE(combo->itemIcon(0).isNull());
      EXPECT_EQ(combo->currentIndex(), 0);
    }
  }
}

TEST(WindowOpening, FailedDetectionClosesWithOnlyItsMessage) {
  // Nothing installed, or dbinstall.ini missing (the list is filled by then).
  struct Case {
    const char* edition;
    bool installed;
    const char* says;
  };
  for (const Case& c : {Case{"mss2000", false, "请检查是否正确的安装了MS SQL Server"},
                        Case{"mss7", false, "请检查是否正确的安装了MS SQL Server"},
                        Case{"mss2000", true, "dbinstall.ini"}}) {
    SCOPED_TRACE(c.says);
    WindowHarness h;
    if (c.installed) testing::fake_machine(h.fake, "mss2000");
    h.fake.files.existing.clear();
    QSignalSpy closed(h.window.get(), &w_createdb::closed);
    EXPECT_FALSE(h.window->open(c.edition));
    ASSERT_EQ(h.boxes.size(), 1u);
    EXPECT_EQ(h.boxes[0].title, display_name());
    EXPECT_EQ(h.boxes[0].buttons, MsgButtons::Ok);
    EXPECT_NE(h.boxes[0].text.find(c.says), std::string::npos);
    EXPECT_FALSE(h.window->isVisible());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  }
}

TEST(WindowCommands, EnterAnywhereStartsTheInstallAndEscCloses) {
  WindowHarness h;
  h.open("mss2000");
  // The first logon fails: the procedure ends at once and may run again.
  h.fake.on("CONNECT", DbResult::failure(18456, "Login failed for user 'sa'."));
  h.window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(h.window.get()));
  QSignalSpy install(h.control<QPushButton>("cb_dbsetup"), &QPushButton::clicked);
  auto* password = h.control<QLineEdit>("sle_mss2000_password");
  password->setText("wrong");

  int presses = 0;  // each runs the procedure from its first stage
  for (const char* name : {"sle_mss2000_servername", "sle_mss2000_password",
                           "ddplb_mss2000_instances", "pb_mss2000data_backupfile", "cb_exit"}) {
    SCOPED_TRACE(name);
    QWidget* w = h.control(name);
    w->setFocus();
    QTest::keyClick(w, Qt::Key_Return);
    ++presses;
    EXPECT_EQ(install.count(), presses);
    EXPECT_EQ(testing::logons(h.fake), presses);
    EXPECT_EQ(h.text("st_status"), "连接数据库失败!");
    EXPECT_TRUE(h.window->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // The failed logon concerns the password: the focus is there, its text
    // selected; the install button is available again.
    EXPECT_EQ(h.window->focusWidget(), password);
    EXPECT_EQ(password->selectedText(), "wrong");
    EXPECT_TRUE(h.control("cb_dbsetup")->isEnabled());
  }
  EXPECT_EQ(h.fake.script->calls.front().logon.server, "127.0.0.1");

  // A disabled install button takes no Enter.
  h.window->ui().set_install_enabled(false);
  QTest::keyClick(h.control("sle_mss2000_userid"), Qt::Key_Return);
  EXPECT_EQ(install.count(), presses);

  QSignalSpy closed(h.window.get(), &w_createdb::closed);
  QSignalSpy exit(h.control<QPushButton>("cb_exit"), &QPushButton::clicked);
  QTest::keyClick(h.control("sle_mss2000_userid"), Qt::Key_Escape);
  EXPECT_EQ(exit.count(), 1);
  EXPECT_EQ(closed.count(), 1);
  EXPECT_FALSE(h.window->isVisible());

  // The close box does the same.
  h.window->show();
  EXPECT_TRUE(h.window->close());
  EXPECT_EQ(closed.count(), 2);
  EXPECT_FALSE(h.window->isVisible());
}

// The install button is greyed while the procedure runs (seen from inside
// its message box; the focus has gone on to the next button) and available
// again after a failure; when the failure concerns no field, the focus
// comes back to where it was.
TEST(WindowCommands, TheInstallButtonIsGreyedWhileTheProcedureRuns) {
  WindowHarness h;
  h.open("mss2000");
  h.window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(h.window.get()));
  h.fake.on("HEADERONLY", DbResult::failure(3201, "Cannot open backup device."));
  auto* button = h.control<QPushButton>("cb_dbsetup");
  std::string during;
  h.on_box = [&] {
    during = (button->isEnabled() ? "enabled " : "greyed ") +
             h.window->focusWidget()->objectName().toStdString();
  };
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(h.boxes.size(), 1u);
  EXPECT_EQ(during, "greyed cb_exit");
  EXPECT_TRUE(button->isEnabled());
  // The failure concerns the backup file: the focus goes there.
  EXPECT_EQ(h.window->focusWidget()->objectName(), "sle_mss2000data_backupfile");
  h.window->hide();
}

}  // namespace
}  // namespace dbsetup
