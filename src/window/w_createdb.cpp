#include "window/w_createdb.h"

#include <QBitmap>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <vector>

#include "detect/detect.h"
#include "detect/opening.h"
#include "install/install.h"
#include "window/qt_window_ui.h"
#include "window/w_createdb_form.h"
#include "window/w_createdb_layout.h"

// The pictures live in a static library: register them explicitly.
static void init_window_resources() { Q_INIT_RESOURCE(w_createdb); }

namespace dbsetup {

QRect layout_rect(int x, int y, int width, int height) {
  const layout::PixelRect r = layout::to_pixels(x, y, width, height);
  return QRect(r.x, r.y, r.width, r.height);
}

QSize client_size() {
  const layout::PixelSize size = layout::client_size(layout::kDesignDpi);
  return QSize(size.width, size.height);
}

namespace {

using layout::Control;
using layout::Face;
using layout::Kind;

QColor qt_colour(layout::Colour colour) {
  const layout::Rgb rgb = layout::colour_rgb(colour);
  return QColor(rgb.r, rgb.g, rgb.b);
}

QFont make_font(Face face, int points, bool bold) {
  QFont font;
  const QString name = QString::fromUtf8(layout::face_spec(face).name);
  if (face == Face::Song) {
    // SimSun where it exists; elsewhere a Ming face like it (AR PL UMing,
    // which the Windows build's pictures under Wine use too), else any
    // installed CJK face.
    font.setFamilies({name, QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("WenQuanYi Zen Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
  } else {
    font.setFamilies({name, QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("WenQuanYi Zen Hei")});
    font.setStyleHint(QFont::SansSerif);
  }
  font.setPointSize(points);
  font.setBold(bold);
  return font;
}

// A picture at `percent` of its size with its grey background made
// transparent, so that it sits on the window's own button-face colour
// whatever the style.
QPixmap picture(const char* file, int percent) {
  const QString path =
      QStringLiteral(":/pictures/") + QString::fromStdString(layout::picture_file(file, percent));
  QPixmap pix(path);
  if (!pix.isNull() && path.endsWith(QLatin1String(".bmp"))) {
    QColor corner = pix.toImage().pixelColor(0, 0);
    pix.setMask(pix.createMaskFromColor(corner, Qt::MaskInColor));
  }
  return pix;
}

// The picture for a screen of this scale, drawn pixel for pixel on it.
QPixmap picture_for(const char* file, qreal device_pixel_ratio) {
  QPixmap pix =
      picture(file, layout::picture_scale(qRound(layout::kDesignDpi * device_pixel_ratio)));
  pix.setDevicePixelRatio(device_pixel_ratio);
  return pix;
}

QWidget* create(const Control& ctl, QWidget* parent) {
  const QString text = QString::fromUtf8(ctl.text);
  QWidget* w = nullptr;
  switch (ctl.kind) {
    case Kind::Static: {
      auto* label = new QLabel(text, parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment((ctl.flags & layout::kFieldLabel ? Qt::AlignRight : Qt::AlignLeft) |
                          Qt::AlignVCenter);
      w = label;
      break;
    }
    case Kind::Group: {
      auto* group = new QGroupBox(text, parent);
      group->setFlat((ctl.flags & layout::kRule) != 0);
      w = group;
      break;
    }
    case Kind::Picture: {
      auto* label = new QLabel(parent);
      label->setAlignment(Qt::AlignCenter);
      w = label;
      break;
    }
    case Kind::PictureButton: {
      auto* button = new QToolButton(parent);
      button->setToolButtonStyle(Qt::ToolButtonIconOnly);
      w = button;
      break;
    }
    case Kind::Edit: {
      auto* edit = new QLineEdit(text, parent);
      edit->setCursorPosition(0);
      if (ctl.flags & layout::kMasked) edit->setEchoMode(QLineEdit::Password);
      if (ctl.flags & (layout::kDisplay | layout::kNotTypeable)) edit->setReadOnly(true);
      if (ctl.flags & layout::kDisplay) {
        edit->setFrame(false);
        QPalette pal = edit->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        edit->setPalette(pal);
      }
      if (ctl.flags & layout::kDisabled) edit->setEnabled(false);
      w = edit;
      break;
    }
    case Kind::DropDown: {
      auto* combo = new QComboBox(parent);
      combo->setIconSize(QSize(16, 16));
      combo->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      int row = std::max(QFontMetrics(make_font(ctl.face, ctl.points, false)).height(), 16) + 2;
      combo->setMaxVisibleItems(std::max(1, layout::to_pixels_v(layout::kDroppedListUnits) / row));
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
      button->setDefault((ctl.flags & layout::kDefaultButton) != 0);
      w = button;
      break;
    }
    case Kind::Progress: {
      auto* bar = new QProgressBar(parent);
      bar->setRange(0, 100);
      w = bar;
      break;
    }
  }

  w->setObjectName(QString::fromLatin1(ctl.name));
  w->setGeometry(layout_rect(ctl.x, ctl.y, ctl.width, ctl.height));
  if (ctl.face != Face::None) {
    w->setFont(make_font(ctl.face, ctl.points, (ctl.flags & layout::kBold) != 0));
  }
  if (ctl.colour != layout::Colour::Default) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, qt_colour(ctl.colour));
    w->setPalette(pal);
  }
  if (ctl.flags & layout::kHidden) w->hide();
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

// The baseline of a field's text line in its parent's coordinates. A line
// edit centres its line in its contents rectangle (as QLineEdit paints it);
// a list centres its text in its box.
int text_baseline(QWidget* field) {
  const QFontMetrics fm = field->fontMetrics();
  QRect r = field->rect();
  if (auto* edit = qobject_cast<QLineEdit*>(field)) {
    QStyleOptionFrame frame;
    frame.initFrom(edit);
    frame.rect = edit->rect();
    frame.lineWidth = edit->hasFrame()
                          ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit)
                          : 0;
    frame.midLineWidth = 0;
    frame.state |= QStyle::State_Sunken;
    r = edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit);
    r = r.marginsRemoved(edit->textMargins());
  }
  return field->y() + r.y() + (r.height() - fm.height() + 1) / 2 + fm.ascent();
}

// A field label's text stands on its field's text line (the same baseline);
// the label grows where that line, or a text wider than the label, needs
// more room than its place has: upwards or downwards, and to the left.
void fit_label(QLabel* label, const Control& ctl) {
  const QRect place = layout_rect(ctl.x, ctl.y, ctl.width, ctl.height);
  const QFontMetrics fm = label->fontMetrics();
  QWidget* beside = nullptr;
  for (auto parent : {layout::Parent::PageMss7, layout::Parent::PageMss2000}) {
    const auto table = layout::controls_of(parent);
    if (&ctl >= table.data() && &ctl < table.data() + table.size()) {
      if (const Control* f = layout::field_of(ctl, parent))
        beside = label->parentWidget()->findChild<QWidget*>(QString::fromLatin1(f->name));
    }
  }
  if (!beside) return;
  const int line = text_baseline(beside) - fm.ascent();
  const int top = std::max(0, std::min(place.top(), line));
  const int bottom = std::max(place.bottom() + 1, line + fm.height());
  const int left = std::max(
      0, std::min(place.left(), place.right() + 1 - fm.horizontalAdvance(label->text()) - 2));
  label->setAlignment(Qt::AlignRight | Qt::AlignTop);
  label->setContentsMargins(0, line - top, 0, 0);
  label->setGeometry(QRect(QPoint(left, top), QPoint(place.right(), bottom - 1)));
}

// Creates the controls of one parent in their creation order, stacks them
// so that an earlier one lies in front of a later one, and returns the input
// controls in their tab order.
std::vector<QWidget*> create_all(layout::Parent which, QWidget* parent) {
  std::vector<QWidget*> created;
  for (const Control& ctl : layout::controls_of(which)) created.push_back(create(ctl, parent));
  for (auto it = created.rbegin(); it != created.rend(); ++it) (*it)->raise();

  std::vector<QWidget*> tabbed;
  for (const Control* ctl : layout::tab_sequence(which))
    tabbed.push_back(parent->findChild<QWidget*>(QString::fromLatin1(ctl->name)));
  return tabbed;
}

}  // namespace

w_createdb::w_createdb(Settings& gs, Transaction& sqlca, Platform& platform, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<QtWindowUi>(*this)),
      ctx_{gs, sqlca, *ui_, form_, platform} {
  init_window_resources();
  build();
  ui_->attach(form_);
  // The fields show the form as the window stores it.
  ui_->form_changed();
  connect_handlers();
}

w_createdb::~w_createdb() = default;

void w_createdb::build() {
  setObjectName(QStringLiteral("w_createdb"));
  // Title bar with system menu and close box; no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(client_size());
  QPalette pal = palette();
  pal.setColor(QPalette::Window, pal.color(QPalette::Button));
  setPalette(pal);
  setAutoFillBackground(true);

  std::vector<QWidget*> window_tabs = create_all(layout::Parent::Window, this);

  auto* tab = findChild<QTabWidget*>(QStringLiteral("tab_1"));
  std::vector<QWidget*> chain{window_tabs.front()};  // tab_1
  for (const layout::Page& p : layout::kPages) {
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(p.name));
    page->setAutoFillBackground(true);
    // The button-face colour as the page colour. (Not as background role:
    // the controls would inherit it and draw their text in the button-text
    // colour.)
    QPalette pal = page->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    page->setPalette(pal);
    const int index = tab->addTab(page, QString::fromUtf8(p.caption));
    std::vector<QWidget*> tabbed = create_all(p.parent, page);
    chain.insert(chain.end(), tabbed.begin(), tabbed.end());
    // The stored state: only the SQL Server 2000 page, selected.
    if (p.shown) tab->setCurrentIndex(index);
  }
  for (int i = 0; i < tab->count(); ++i) tab->setTabVisible(i, layout::kPages[i].shown);

  // Tab order: the tab control, the input controls of each page, then the
  // command buttons. Controls on a hidden page are skipped by the keyboard.
  chain.insert(chain.end(), window_tabs.begin() + 1, window_tabs.end());
  for (size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
  // The labels once their fields have their places and fonts.
  for (auto parent : {layout::Parent::PageMss7, layout::Parent::PageMss2000})
    for (const Control& ctl : layout::controls_of(parent))
      if (ctl.flags & layout::kFieldLabel)
        fit_label(findChild<QLabel*>(QString::fromLatin1(ctl.name)), ctl);
  show_pictures(devicePixelRatioF());
}

void w_createdb::show_pictures(qreal device_pixel_ratio) {
  for (auto parent :
       {layout::Parent::Window, layout::Parent::PageMss7, layout::Parent::PageMss2000}) {
    for (const Control& ctl : layout::controls_of(parent)) {
      QWidget* w = findChild<QWidget*>(QString::fromLatin1(ctl.name));
      if (auto* label = qobject_cast<QLabel*>(w); label && ctl.kind == Kind::Picture) {
        label->setPixmap(picture_for(ctl.text, device_pixel_ratio));
      } else if (auto* button = qobject_cast<QToolButton*>(w)) {
        const QPixmap pix = picture_for(ctl.text, device_pixel_ratio);
        button->setIcon(QIcon(pix));
        button->setIconSize(pix.deviceIndependentSize().toSize());
      }
    }
  }
}

void w_createdb::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (screen_watched_ || !windowHandle()) return;
  screen_watched_ = true;
  connect(windowHandle(), &QWindow::screenChanged, this,
          [this](QScreen* screen) { show_pictures(screen->devicePixelRatio()); });
  show_pictures(windowHandle()->devicePixelRatio());
}

void w_createdb::connect_handlers() {
  connect(findChild<QPushButton*>(QStringLiteral("cb_dbsetup")), &QPushButton::clicked, this,
          [this] { install_clicked(); });
  connect(findChild<QPushButton*>(QStringLiteral("cb_exit")), &QPushButton::clicked, this,
          [this] { close(); });

  for (const layout::ButtonHandler& p : layout::kPickerHandlers) {
    connect(findChild<QToolButton*>(QString::fromLatin1(p.control)), &QToolButton::clicked, this,
            [this, handler = p.handler] {
              ui_->pull_form();
              handler(ctx_);
            });
  }

  // The operator's choice of instance. The detection fills and selects the
  // list with the signals blocked and runs the handler itself.
  connect(findChild<QComboBox*>(QStringLiteral("ddplb_mss2000_instances")),
          &QComboBox::currentIndexChanged, this, [this](int index) {
            if (index < 0) return;
            ui_->pull_form();
            ddplb_mss2000_instances_selectionchanged(ctx_, index + 1);
          });
}

bool w_createdb::open(const std::string& edition) {
  bool ok = w_createdb_open(ctx_, edition);
  ui_->set_busy(false);
  if (!ok) {
    close();
    return false;
  }
  // The shown page's first field has the focus when the window shows.
  auto* tab = findChild<QTabWidget*>(QStringLiteral("tab_1"));
  for (const layout::Page& p : layout::kPages)
    if (tab->currentWidget()->objectName() == QLatin1String(p.name))
      ui_->focus_control(p.first_field);
  return true;
}

// The install button is greyed while the procedure runs, and available again
// afterwards unless the procedure disabled it (after a success). The focus
// comes back to where it was, unless the procedure moved it to a field.
void w_createdb::install_clicked() {
  if (installing_) return;
  installing_ = true;
  QPointer<QWidget> before = focusWidget();
  ui_->set_install_running(true);
  ui_->pull_form();
  cb_dbsetup_clicked(ctx_);
  // The procedure leaves the busy pointer on; it ends with the procedure.
  ui_->set_busy(false);
  ui_->set_progress(-1);
  installing_ = false;
  ui_->set_install_running(false);
  if (!ui_->focus_asked() && before && before->isEnabled() && before->isVisible())
    before->setFocus(Qt::OtherFocusReason);
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
