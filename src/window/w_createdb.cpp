#include "window/w_createdb.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <vector>

#include "detect/detect.h"
#include "pickers/pickers.h"
#include "window/opening.h"
#include "window/qt_window_ui.h"

// The pictures live in a static library: register them explicitly.
static void init_window_resources() { Q_INIT_RESOURCE(w_createdb); }

namespace dbsetup {

QRect layout_rect(int x, int y, int width, int height) {
  auto h = [](int units) { return static_cast<int>(std::lround(units / 4.57)); };
  auto v = [](int units) { return static_cast<int>(std::lround(units / 4.0)); };
  return QRect(h(x), v(y), h(width), v(height));
}

namespace {

enum class Kind { Static, Group, Picture, PictureButton, Edit, DropDown, Tab, Button };
enum class Face { None, Song, Arial };

// Looks that differ from the window's defaults.
enum Flag : unsigned {
  kNone = 0,
  kBold = 1u << 0,
  kNavy = 1u << 1,      // navy text or caption
  kRed = 1u << 2,       // red text
  kMasked = 1u << 3,    // password characters
  kDisplay = 1u << 4,   // display only: read-only, no border, button-face background
  kReadOnly = 1u << 5,  // display only with its border: changed by its picker
  kDisabled = 1u << 6,
  kFieldLabel = 1u << 7,  // label of the field to its right: right-aligned
  kRule = 1u << 8,        // group box drawn as a horizontal rule
};

// One control of the stored layout, in creation order; geometry in layout
// units, relative to the parent's client area; tab 0 = not visited by Tab.
struct StoredControl {
  const char* name;
  Kind kind;
  const char* text;
  int x, y, width, height;
  int tab;
  Face face;
  int points;
  unsigned flags;
};

constexpr QColor kNavyColor(0, 0, 128);
constexpr QColor kRedColor(255, 0, 0);

// Window-level controls.
const StoredControl kWindowControls[] = {
    {"st_title2", Kind::Static, "", 78, 88, 1408, 60, 0, Face::Song, 9, kBold},
    {"gb_1", Kind::Group, "", 0, 236, 2377, 8, 0, Face::Arial, 12, kRule},
    {"st_title1", Kind::Static, "", 78, 28, 1408, 60, 0, Face::Song, 9, kBold},
    {"p_2", Kind::Picture, ":/pictures/orlin.gif", 1591, 16, 654, 200, 0, Face::None, 0, kNone},
    {"st_status", Kind::Static, "", 59, 1460, 2235, 120, 0, Face::Song, 12, kNavy},
    {"cb_dbsetup", Kind::Button, "安装(&S)", 1531, 1632, 384, 88, 20, Face::Song, 9, kNone},
    {"cb_exit", Kind::Button, "退出(&X)", 1961, 1632, 384, 88, 40, Face::Song, 9, kNone},
    {"st_12", Kind::Static, "", 0, 0, 2359, 236, 0, Face::Arial, 9, kNone},
    {"tab_1", Kind::Tab, "", 9, 132, 2345, 1472, 10, Face::Arial, 9, kNone},
};

const StoredControl kMss7Controls[] = {
    {"st_message", Kind::Static, "注意修改OPEN事件的实例变量", 5, 656, 2382, 164, 0, Face::Arial,
     24, kRed},
    {"sle_dbname", Kind::Edit, "tavox", 805, 544, 1358, 88, 13, Face::Arial, 9, kNone},
    {"st_dbname", Kind::Static, "本次装载的数据库名称：", 91, 560, 727, 56, 0, Face::Song, 9,
     kFieldLabel},
    {"pb_mss7data_backupfile", Kind::PictureButton, ":/pictures/select.bmp", 2167, 424, 91, 88, 40,
     Face::Arial, 9, kNone},
    {"pb_mss7data_setuppath", Kind::PictureButton, ":/pictures/select.bmp", 2167, 300, 91, 88, 20,
     Face::Arial, 9, kNone},
    {"p_1", Kind::Picture, ":/pictures/user.bmp", 119, 1056, 165, 144, 0, Face::None, 0, kNone},
    {"sle_mss7_password", Kind::Edit, "", 1006, 1132, 1129, 88, 70, Face::Arial, 9, kMasked},
    {"sle_mss7_userid", Kind::Edit, "sa", 1006, 1032, 1129, 88, 60, Face::Arial, 9, kNone},
    {"sle_mss7_servername", Kind::Edit, "", 1006, 932, 1129, 88, 50, Face::Arial, 9, kNone},
    {"sle_mss7data_backupfile", Kind::Edit, "", 805, 424, 1358, 88, 30, Face::Arial, 9, kReadOnly},
    {"sle_mss7data_setuppath", Kind::Edit, "", 805, 304, 1358, 88, 10, Face::Arial, 9, kNone},
    {"st_17", Kind::Static, "登录密码：", 91, 1144, 901, 72, 0, Face::Song, 9, kFieldLabel},
    {"st_11", Kind::Static, "系统管理员登录名：", 91, 1048, 901, 84, 0, Face::Song, 9, kFieldLabel},
    {"st_10", Kind::Static, "MSS SQL 7.0 数据库服务器IP地址：", 91, 948, 901, 76, 0, Face::Song, 9,
     kFieldLabel},
    {"st_9", Kind::Static, "本次需装载的数据文件：", 91, 444, 722, 56, 0, Face::Song, 9,
     kFieldLabel},
    {"st_8", Kind::Static, "请选择数据的存放目录：", 91, 324, 722, 56, 0, Face::Song, 9,
     kFieldLabel},
    {"sle_mss7data_defaultpath", Kind::Edit, "", 805, 188, 1358, 88, 0, Face::Arial, 9, kDisplay},
    {"st_7", Kind::Static, "数据库默认的数据存放目录：", 96, 204, 722, 56, 0, Face::Song, 9,
     kFieldLabel},
    {"gb_3", Kind::Group, "数据库服务器登录选项", 23, 812, 2258, 504, 0, Face::Song, 9, kNavy},
    {"gb_2", Kind::Group, "文件/目录选择", 23, 76, 2258, 644, 0, Face::Song, 9, kNavy},
};

const StoredControl kMss2000Controls[] = {
    {"st_2", Kind::Static, "本次装载的数据库名称：", 91, 700, 727, 56, 0, Face::Song, 9,
     kFieldLabel},
    {"sle_dbname_2000", Kind::Edit, "nuvex", 786, 684, 1367, 88, 16, Face::Arial, 9, kDisabled},
    {"st_1", Kind::Static, "本次将数据库装载到MS SQL Server 2000的哪一个 实例：", 32, 100, 1527, 76,
     0, Face::Song, 9, kNavy | kFieldLabel},
    // The closed list is as high as an edit field; 1068 units is the dropped list.
    {"ddplb_mss2000_instances", Kind::DropDown, "", 1568, 84, 713, 88, 1, Face::Arial, 9, kNone},
    {"st_30", Kind::Static, "本次需装载的数据文件：", 91, 572, 713, 56, 0, Face::Song, 9,
     kFieldLabel},
    {"st_29", Kind::Static, "请选择数据的存放目录：", 91, 452, 713, 56, 0, Face::Song, 9,
     kFieldLabel},
    {"p_21", Kind::Picture, ":/pictures/user.bmp", 183, 1028, 165, 144, 0, Face::None, 0, kNone},
    {"sle_mss2000_userid", Kind::Edit, "sa", 1051, 1044, 361, 88, 8, Face::Arial, 9, kNone},
    {"sle_mss2000_password", Kind::Edit, "", 1751, 1044, 389, 88, 9, Face::Arial, 9, kMasked},
    {"st_23", Kind::Static, "登录密码：", 1399, 1056, 338, 76, 0, Face::Song, 9, kFieldLabel},
    {"st_22", Kind::Static, "系统管理员登录名：", 142, 1056, 901, 76, 0, Face::Song, 9,
     kFieldLabel},
    {"st_21", Kind::Static, "MSS SQL 2000 数据库服务器IP地址：", 91, 956, 951, 76, 0, Face::Song, 9,
     kFieldLabel},
    {"sle_mss2000_servername", Kind::Edit, "", 1051, 944, 1088, 84, 7, Face::Arial, 9, kNone},
    {"pb_mss2000data_backupfile", Kind::PictureButton, ":/pictures/select.bmp", 2158, 560, 91, 88,
     6, Face::Arial, 9, kNone},
    {"pb_mss2000data_setuppath", Kind::PictureButton, ":/pictures/select.bmp", 2158, 432, 91, 88, 4,
     Face::Arial, 9, kNone},
    {"st_100", Kind::Static, "数据库默认的数据存放目录：", 91, 332, 713, 56, 0, Face::Song, 9,
     kFieldLabel},
    {"gb_22", Kind::Group, "数据库服务器登录选项", 23, 860, 2258, 336, 0, Face::Song, 9, kNavy},
    {"gb_21", Kind::Group, "文件/目录选择", 23, 212, 2258, 616, 0, Face::Song, 9, kNavy},
    {"sle_mss2000data_defaultpath", Kind::Edit, "", 786, 312, 1367, 88, 2, Face::Arial, 9,
     kDisplay},
    {"sle_mss2000data_setuppath", Kind::Edit, "", 786, 436, 1367, 88, 3, Face::Arial, 9, kNone},
    {"sle_mss2000data_backupfile", Kind::Edit, "", 786, 560, 1367, 88, 5, Face::Arial, 9, kNone},
};

// The dropped instance list: 1068 layout units high.
constexpr int kDroppedListUnits = 1068;

QFont make_font(Face face, int points, bool bold) {
  QFont font;
  if (face == Face::Song) {
    // SimSun where it exists; elsewhere an installed CJK face.
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
  } else {
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Zen Hei")});
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPointSize(points);
  font.setBold(bold);
  return font;
}

// A picture with its grey background made transparent, so that it sits on
// the window's own button-face colour whatever the style.
QPixmap picture(const QString& path) {
  QPixmap pix(path);
  if (!pix.isNull() && path.endsWith(QLatin1String(".bmp"))) {
    QColor corner = pix.toImage().pixelColor(0, 0);
    pix.setMask(pix.createMaskFromColor(corner, Qt::MaskInColor));
  }
  return pix;
}

QWidget* create(const StoredControl& ctl, QWidget* parent) {
  const QString text = QString::fromUtf8(ctl.text);
  QWidget* w = nullptr;
  switch (ctl.kind) {
    case Kind::Static: {
      auto* label = new QLabel(text, parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment((ctl.flags & kFieldLabel ? Qt::AlignRight : Qt::AlignLeft) |
                          Qt::AlignVCenter);
      w = label;
      break;
    }
    case Kind::Group: {
      auto* group = new QGroupBox(text, parent);
      group->setFlat((ctl.flags & kRule) != 0);
      w = group;
      break;
    }
    case Kind::Picture: {
      auto* label = new QLabel(parent);
      label->setPixmap(picture(text));
      label->setAlignment(Qt::AlignCenter);
      w = label;
      break;
    }
    case Kind::PictureButton: {
      auto* button = new QToolButton(parent);
      QPixmap pix = picture(text);
      button->setIcon(QIcon(pix));
      button->setIconSize(pix.size());
      button->setToolButtonStyle(Qt::ToolButtonIconOnly);
      w = button;
      break;
    }
    case Kind::Edit: {
      auto* edit = new QLineEdit(text, parent);
      edit->setCursorPosition(0);
      if (ctl.flags & kMasked) edit->setEchoMode(QLineEdit::Password);
      if (ctl.flags & (kDisplay | kReadOnly)) edit->setReadOnly(true);
      if (ctl.flags & kDisplay) {
        edit->setFrame(false);
        QPalette pal = edit->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        edit->setPalette(pal);
      }
      if (ctl.flags & kDisabled) edit->setEnabled(false);
      w = edit;
      break;
    }
    case Kind::DropDown: {
      auto* combo = new QComboBox(parent);
      combo->setIconSize(QSize(16, 16));
      combo->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      int row = std::max(QFontMetrics(make_font(ctl.face, ctl.points, false)).height(), 16) + 2;
      combo->setMaxVisibleItems(std::max(1, (kDroppedListUnits / 4) / row));
      w = combo;
      break;
    }
    case Kind::Tab: {
      auto* tab = new QTabWidget(parent);
      tab->tabBar()->setExpanding(false);
      w = tab;
      break;
    }
    case Kind::Button: {
      auto* button = new QPushButton(text, parent);
      // Enter means install wherever the focus is; only Space presses a
      // focused button.
      button->setAutoDefault(false);
      w = button;
      break;
    }
  }

  w->setObjectName(QString::fromLatin1(ctl.name));
  w->setGeometry(layout_rect(ctl.x, ctl.y, ctl.width, ctl.height));
  if (ctl.face != Face::None) w->setFont(make_font(ctl.face, ctl.points, ctl.flags & kBold));
  if (ctl.flags & (kNavy | kRed)) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, ctl.flags & kRed ? kRedColor : kNavyColor);
    w->setPalette(pal);
  }
  // Static texts, pictures and group boxes take no input: like their Windows
  // counterparts they let clicks through to the controls they overlap.
  if (ctl.kind == Kind::Static || ctl.kind == Kind::Picture || ctl.kind == Kind::Group) {
    w->setAttribute(Qt::WA_TransparentForMouseEvents);
    w->setFocusPolicy(Qt::NoFocus);
  } else if (ctl.tab == 0) {
    w->setFocusPolicy(Qt::ClickFocus);
  } else if (ctl.kind == Kind::PictureButton) {
    w->setFocusPolicy(Qt::StrongFocus);
  }
  return w;
}

// Creates the controls of one parent in their creation order, stacks them
// so that an earlier one lies in front of a later one, and returns the input
// controls in the order of their tab-order column.
template <size_t N>
std::vector<QWidget*> create_all(const StoredControl (&stored)[N], QWidget* parent) {
  std::vector<QWidget*> created;
  for (const StoredControl& ctl : stored) created.push_back(create(ctl, parent));
  for (auto it = created.rbegin(); it != created.rend(); ++it) (*it)->raise();

  std::vector<size_t> order;
  for (size_t i = 0; i < N; ++i) {
    if (stored[i].tab > 0) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return stored[a].tab < stored[b].tab; });
  std::vector<QWidget*> tabbed;
  for (size_t i : order) tabbed.push_back(created[i]);
  return tabbed;
}

QWidget* make_page(QTabWidget* tab, const char* name, const char* caption) {
  auto* page = new QWidget;
  page->setObjectName(QString::fromLatin1(name));
  page->setAutoFillBackground(true);
  // The button-face colour as the page colour. (Not as background role: the
  // controls would inherit it and draw their text in the button-text colour.)
  QPalette pal = page->palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  page->setPalette(pal);
  tab->addTab(page, QString::fromLatin1(caption));
  return page;
}

}  // namespace

w_createdb::w_createdb(Settings& gs, Transaction& sqlca, Platform& platform, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<QtWindowUi>(*this)),
      ctx_{gs, sqlca, *ui_, state_, platform} {
  init_window_resources();
  build();
  ui_->attach();
  connect_handlers();
}

w_createdb::~w_createdb() = default;

void w_createdb::build() {
  setObjectName(QStringLiteral("w_createdb"));
  // Title bar with system menu and close box; no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);

  std::vector<QWidget*> window_tabs = create_all(kWindowControls, this);

  auto* tab = findChild<QTabWidget*>(QStringLiteral("tab_1"));
  QWidget* mss7 = make_page(tab, "tabpage_mss7", "MSS7.0");
  QWidget* mss2000 = make_page(tab, "tabpage_mss2000", "MSS2000");
  std::vector<QWidget*> mss7_tabs = create_all(kMss7Controls, mss7);
  std::vector<QWidget*> mss2000_tabs = create_all(kMss2000Controls, mss2000);

  // The stored state: only the SQL Server 2000 page, selected.
  tab->setCurrentIndex(1);
  tab->setTabVisible(0, false);

  // Tab order: the tab control, the input controls of each page, then the
  // command buttons. Controls on a hidden page are skipped by the keyboard.
  std::vector<QWidget*> chain;
  chain.push_back(window_tabs.front());  // tab_1
  chain.insert(chain.end(), mss7_tabs.begin(), mss7_tabs.end());
  chain.insert(chain.end(), mss2000_tabs.begin(), mss2000_tabs.end());
  chain.insert(chain.end(), window_tabs.begin() + 1, window_tabs.end());
  for (size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);

  auto* install = findChild<QPushButton*>(QStringLiteral("cb_dbsetup"));
  install->setDefault(true);

  // Restore progress, in the free space left of the command buttons.
  auto* progress = new QProgressBar(this);
  progress->setObjectName(QStringLiteral("hpb_restore"));
  progress->setRange(0, 100);
  progress->setGeometry(layout_rect(59, 1644, 1400, 64));
  progress->setFont(make_font(Face::Arial, 8, false));
  progress->hide();
}

void w_createdb::connect_handlers() {
  connect(findChild<QPushButton*>(QStringLiteral("cb_dbsetup")), &QPushButton::clicked, this,
          [this] { install_clicked(); });
  connect(findChild<QPushButton*>(QStringLiteral("cb_exit")), &QPushButton::clicked, this,
          [this] { close(); });

  struct Picker {
    const char* name;
    void (*handler)(SetupContext&);
  };
  const Picker pickers[] = {
      {"pb_mss7data_backupfile", &pb_mss7data_backupfile_clicked},
      {"pb_mss7data_setuppath", &pb_mss7data_setuppath_clicked},
      {"pb_mss2000data_backupfile", &pb_mss2000data_backupfile_clicked},
      {"pb_mss2000data_setuppath", &pb_mss2000data_setuppath_clicked},
  };
  for (const Picker& p : pickers) {
    connect(findChild<QToolButton*>(QString::fromLatin1(p.name)), &QToolButton::clicked, this,
            [this, handler = p.handler] { handler(ctx_); });
  }

  // The operator's choice of instance. The detection fills and selects the
  // list with the signals blocked and runs the handler itself.
  connect(findChild<QComboBox*>(QStringLiteral("ddplb_mss2000_instances")),
          &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index >= 0) ddplb_mss2000_instances_selectionchanged(ctx_, index + 1);
          });
}

bool w_createdb::open(const std::string& edition) {
  bool ok = w_createdb_open(ctx_, edition);
  ui_->set_busy(false);
  if (!ok) close();
  return ok;
}

void w_createdb::install_clicked() {
  if (installing_) return;
  installing_ = true;
  cb_dbsetup_clicked(ctx_);
  // The procedure leaves the busy pointer on; it ends with the procedure.
  ui_->set_busy(false);
  ui_->set_progress(-1);
  installing_ = false;
}

void w_createdb::closeEvent(QCloseEvent* event) {
  // The install procedure runs to its end; the window closes afterwards.
  if (installing_) {
    event->ignore();
    return;
  }
  event->accept();
  emit closed();
}

void w_createdb::reject() {
  auto* exit = findChild<QPushButton*>(QStringLiteral("cb_exit"));
  if (exit && exit->isEnabled() && exit->isVisible()) {
    exit->click();
  } else {
    close();
  }
}

}  // namespace dbsetup
