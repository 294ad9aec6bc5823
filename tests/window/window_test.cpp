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
#include "layout_walk.h"
#include "window_harness.h"

namespace dbsetup {
namespace {

using testing::WindowHarness;

QString shown_text(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  return {};
}

// The Qt class each kind of the layout becomes.
const std::map<layout::Kind, std::string> kQtClassOf = {
    {layout::Kind::Static, "QLabel"},        {layout::Kind::Group, "QGroupBox"},
    {layout::Kind::Picture, "QLabel"},       {layout::Kind::PictureButton, "QToolButton"},
    {layout::Kind::Edit, "QLineEdit"},       {layout::Kind::DropDown, "QComboBox"},
    {layout::Kind::Tab, "QTabWidget"},       {layout::Kind::Button, "QPushButton"},
    {layout::Kind::Progress, "QProgressBar"}};

// Every control as the layout table describes it: class, parent, text (a
// field bound to the form shows the form's stored text), picture, font,
// looks and place.
TEST(WindowLayout, EveryControlHasItsKindTextFontAndPlace) {
  using layout::Kind;
  WindowHarness h;
  testing::for_each_control([&](const char* page, const layout::Control& c) {
    QWidget* w = h.control(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->metaObject()->className(), kQtClassOf.at(c.kind));
    EXPECT_EQ(w->parentWidget(), page ? h.control(page) : h.window.get());
    if (auto* label = qobject_cast<QLabel*>(w)) {
      EXPECT_EQ(label->pixmap().isNull(), c.kind != Kind::Picture);
    }
    if (auto* button = qobject_cast<QToolButton*>(w)) {
      EXPECT_FALSE(button->icon().isNull());
    }
    if (c.kind == Kind::Static || c.kind == Kind::Group || c.kind == Kind::Edit ||
        c.kind == Kind::Button) {
      EXPECT_EQ(shown_text(w).toStdString(), testing::initial_text(c));
    }
    if (c.face != layout::Face::None && c.kind != Kind::Picture) {
      EXPECT_EQ(w->font().families().value(0).toStdString(), layout::face_spec(c.face).name);
      EXPECT_EQ(w->font().pointSize(), c.points);
      EXPECT_EQ(w->font().bold(), (c.flags & layout::kBold) != 0);
    }
    EXPECT_EQ(w->isEnabled(), (c.flags & layout::kDisabled) == 0);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      const bool display = c.flags & layout::kDisplay;
      EXPECT_EQ(edit->echoMode(),
                c.flags & layout::kMasked ? QLineEdit::Password : QLineEdit::Normal);
      EXPECT_EQ(edit->isReadOnly(), display || (c.flags & layout::kNotTypeable));
      EXPECT_EQ(edit->hasFrame(), !display);
      const QPalette& p = w->palette();
      EXPECT_EQ(
          p.color(QPalette::Active, QPalette::Base) == p.color(QPalette::Active, QPalette::Button),
          display);
    }
    if (c.kind == Kind::Progress) return;  // hidden until a restore
    const QRect g = w->geometry();
    if (c.flags & layout::kFieldLabel) {
      // A field label holds its place, grown where its text line (on its
      // field's line) needs it.
      EXPECT_TRUE(g.contains(layout_rect(c.x, c.y, c.width, c.height)))
          << g.y() << " " << g.height();
      EXPECT_LE(g.height(), c.height / 4 + w->fontMetrics().height());
      return;
    }
    EXPECT_LE(std::abs(g.x() - c.x / 4.57), 1.0) << g.x();
    EXPECT_LE(std::abs(g.y() - c.y / 4.0), 1.0) << g.y();
    EXPECT_LE(std::abs(g.width() - c.width / 4.57), 1.0) << g.width();
    // The closed list is as high as its style wants.
    if (c.kind != Kind::DropDown && c.kind != Kind::Tab) {
      EXPECT_LE(std::abs(g.height() - c.height / 4.0), 1.0) << g.height();
    }
  });

  // The pictures' sizes: window_scale_test; the picture button's 19 by 19.
  EXPECT_EQ(h.control<QToolButton>("pb_mss2000data_backupfile")->iconSize(), QSize(19, 19));

  // The tab pages and their captions, in this order; headers not stretched.
  auto* tab = h.control<QTabWidget>("tab_1");
  ASSERT_EQ(tab->count(), 2);
  EXPECT_EQ(tab->widget(0), h.control("tabpage_mss7"));
  EXPECT_EQ(tab->widget(1), h.control("tabpage_mss2000"));
  EXPECT_EQ(tab->tabText(0), "MSS7.0");
  EXPECT_EQ(tab->tabText(1), "MSS2000");
  EXPECT_FALSE(tab->tabBar()->expanding());

  // The texts' colours: drawn, in window_scale_test.

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
  const Qt::WindowFlags frame = Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
  EXPECT_EQ(h.window->windowFlags() & (frame | Qt::WindowMinMaxButtonsHint), frame);

  // Centred on the screen when it shows.
  ASSERT_TRUE(h.show());
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

// The Tab key pressed from the round's first control as often as the round is
// long (the tab control takes the focus on its tab bar).
std::vector<std::string> tab_walk(WindowHarness& h, const std::vector<std::string>& round) {
  std::vector<std::string> seen;
  h.control(round.front().c_str())->setFocus(Qt::TabFocusReason);
  for (size_t i = 0; i < round.size(); ++i) {
    QWidget* f = h.window->focusWidget();
    if (!f) break;
    if (qobject_cast<QTabBar*>(f)) f = f->parentWidget();
    seen.push_back(f->objectName().toStdString());
    QTest::keyClick(f, Qt::Key_Tab);
  }
  return seen;
}

TEST(WindowLayout, TabKeyVisitsTheInputControlsInTheirOrder) {
  WindowHarness h;
  ASSERT_TRUE(h.show());
  for (auto [page, parent] : {std::pair{Page::mss2000, layout::Parent::PageMss2000},
                              {Page::mss7, layout::Parent::PageMss7}}) {
    h.window->ui().show_page(page);
    const std::vector<std::string> round = testing::tab_round(parent);
    EXPECT_EQ(tab_walk(h, round), round);
  }
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
  ASSERT_TRUE(h.show());
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

}  // namespace
}  // namespace dbsetup
