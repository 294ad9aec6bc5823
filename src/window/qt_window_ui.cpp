#include "window/qt_window_ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <utility>

#include "window/qt_translations.h"
#include "window/w_createdb_form.h"
#include "window/w_createdb_layout.h"
#include "window/worker_call.h"

namespace dbsetup {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

QMessageBox::Icon qt_icon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Question:
      return QMessageBox::Question;
    case MsgIcon::Exclamation:
      return QMessageBox::Warning;
    case MsgIcon::StopSign:
      return QMessageBox::Critical;
    case MsgIcon::Information:
      break;
  }
  return QMessageBox::Information;
}

// Shows the arrow over a modal box or dialog while the busy pointer is set,
// and puts the busy pointer back afterwards.
class ArrowWhileModal {
 public:
  explicit ArrowWhileModal(bool busy) : busy_(busy) {
    if (busy_) QApplication::setOverrideCursor(Qt::ArrowCursor);
  }
  ~ArrowWhileModal() {
    if (busy_) QApplication::restoreOverrideCursor();
  }
  ArrowWhileModal(const ArrowWhileModal&) = delete;
  ArrowWhileModal& operator=(const ArrowWhileModal&) = delete;

 private:
  bool busy_;
};

// While installed, drops the keys and clicks meant for one window: the
// operator's input during a database call would otherwise act once the call
// is over (Esc closing the window after a restore, a second install).
// Other windows, such as a message box, keep their input.
class InputBlocker : public QObject {
 public:
  explicit InputBlocker(QWidget& window) : window_(window.window()) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~InputBlocker() override { QCoreApplication::instance()->removeEventFilter(this); }
  InputBlocker(const InputBlocker&) = delete;
  InputBlocker& operator=(const InputBlocker&) = delete;

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    return is_input(event->type()) && in_window(target);
  }

 private:
  static bool is_input(QEvent::Type type) {
    switch (type) {
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::Shortcut:
      case QEvent::InputMethod:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::ContextMenu:
      case QEvent::TouchBegin:
      case QEvent::TouchUpdate:
      case QEvent::TouchEnd:
      case QEvent::TabletPress:
      case QEvent::TabletRelease:
        return true;
      default:
        return false;
    }
  }
  // The target or, for a shortcut object, its nearest widget is in the window.
  bool in_window(QObject* target) const {
    if (auto* handle = qobject_cast<QWindow*>(target)) return handle == window_->windowHandle();
    while (target && !target->isWidgetType()) target = target->parent();
    return target && static_cast<QWidget*>(target)->window() == window_;
  }

  QWidget* window_;
};

}  // namespace

QStringList qt_name_filters(const std::string& filter) {
  QStringList parts = q(filter).split(',');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    for (QString& p : patterns) {
      p = p.trimmed();
#ifndef _WIN32
      if (p == QLatin1String("*.*")) p = QStringLiteral("*");
#endif
    }
    // The dialog shows the description alone (HideNameFilterDetails) and
    // matches the patterns in the last pair of parentheses.
    out << description + QStringLiteral(" (") + patterns.join(' ') + QStringLiteral(")");
  }
  if (out.isEmpty()) out << QStringLiteral("(*)");
  return out;
}

QtWindowUi::QtWindowUi(QWidget& window) : window_(window) {}

QtWindowUi::~QtWindowUi() {
  if (busy_) QApplication::restoreOverrideCursor();
}

void QtWindowUi::attach(InstallForm& form) {
  bind(form);
  controls_.clear();
  for (QWidget* w : window_.findChildren<QWidget*>()) {
    if (!w->objectName().isEmpty()) controls_[w->objectName().toStdString()] = w;
  }
}

QWidget* QtWindowUi::find(std::string_view name) const {
  auto it = controls_.find(name);
  return it == controls_.end() ? nullptr : it->second.data();
}

bool QtWindowUi::on_gui_thread() const { return QThread::currentThread() == window_.thread(); }

void QtWindowUi::on_gui(const std::function<void()>& fn) {
  if (on_gui_thread()) {
    fn();
  } else {
    QMetaObject::invokeMethod(&window_, fn, Qt::BlockingQueuedConnection);
  }
}

std::string QtWindowUi::text(std::string_view control) {
  std::string out;
  on_gui([&] {
    QWidget* w = find(control);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      out = edit->text().toStdString();
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      out = label->text().toStdString();
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      out = combo->currentText().toStdString();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      out = button->text().toStdString();
    }
  });
  return out;
}

void QtWindowUi::set_text(std::string_view control, const std::string& value) {
  on_gui([&] {
    QWidget* w = find(control);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      edit->setText(q(value));
      edit->setCursorPosition(0);  // show the start of a long path
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      label->setText(q(value));
      // Progress texts are written between blocking steps: paint now.
      if (label->isVisible()) label->repaint();
    }
  });
}

void QtWindowUi::set_title(const std::string& title) {
  on_gui([&] { window_.setWindowTitle(q(title)); });
}

void QtWindowUi::set_install_enabled(bool enabled) {
  on_gui([&] {
    install_wanted_ = enabled;
    if (QWidget* b = find("cb_dbsetup")) b->setEnabled(install_wanted_ && !install_running_);
  });
}

void QtWindowUi::set_install_running(bool running) {
  on_gui([&] {
    install_running_ = running;
    if (running) focus_asked_ = false;
    // A greyed button gives the focus on to the next control.
    if (QWidget* b = find("cb_dbsetup")) b->setEnabled(install_wanted_ && !install_running_);
  });
}

void QtWindowUi::focus_control(std::string_view control) {
  on_gui([&] {
    QWidget* w = find(control);
    if (!w || !w->isEnabled() || !w->isVisibleTo(&window_)) return;
    w->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) edit->selectAll();
    focus_asked_ = true;
  });
}

bool QtWindowUi::install_enabled() {
  bool enabled = false;
  on_gui([&] {
    if (QWidget* b = find("cb_dbsetup")) enabled = b->isEnabled();
  });
  return enabled;
}

void QtWindowUi::set_busy(bool busy) {
  on_gui([&] {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  });
}

void QtWindowUi::show_page(Page page) {
  on_gui([&] {
    auto* tab = qobject_cast<QTabWidget*>(find("tab_1"));
    QWidget* shown = find(layout::page_control(page));
    if (!tab || !shown) return;
    int index = tab->indexOf(shown);
    if (index < 0) return;
    tab->setTabVisible(index, true);
    tab->setCurrentIndex(index);
    for (int i = 0; i < tab->count(); ++i) {
      if (i != index) tab->setTabVisible(i, false);
    }
  });
}

int QtWindowUi::message_box(const std::string& title, const std::string& text, MsgIcon icon,
                            MsgButtons buttons, int default_button) {
  int answer = 1;
  on_gui([&] {
    if (message_box_hook) {
      answer = message_box_hook(title, text, icon, buttons, default_button);
      return;
    }
    ArrowWhileModal arrow(busy_);
    // A Windows line break is one break on screen.
    QString shown = q(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(qt_icon(icon), q(title), shown, QMessageBox::NoButton, &window_);
    box.setTextFormat(Qt::PlainText);
    if (buttons == MsgButtons::YesNo) {
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(default_button == kNo ? QMessageBox::No : QMessageBox::Yes);
      box.setEscapeButton(QMessageBox::No);
    } else {
      box.setStandardButtons(QMessageBox::Ok);
    }
    if (!qt_translations_installed()) {
      // Without Qt's translation the buttons are named here.
      const std::pair<QMessageBox::StandardButton, const char*> names[] = {
          {QMessageBox::Ok, "确定"}, {QMessageBox::Yes, "是(&Y)"}, {QMessageBox::No, "否(&N)"}};
      for (const auto& [which, name] : names)
        if (QAbstractButton* b = box.button(which)) b->setText(QString::fromUtf8(name));
    }
    const int pressed = box.exec();
    answer = buttons == MsgButtons::YesNo ? (pressed == QMessageBox::Yes ? kYes : kNo) : 1;
  });
  return answer;
}

void QtWindowUi::instance_add(const std::string& entry) {
  on_gui([&] {
    auto* combo = qobject_cast<QComboBox*>(find("ddplb_mss2000_instances"));
    if (!combo) return;
    QSignalBlocker quiet(combo);
    // Every entry carries the list's picture, in each of its sizes: the
    // icon draws the one for the screen's scale.
    const char* picture = layout::find_control("ddplb_mss2000_instances")->text;
    QIcon icon;
    for (int percent : layout::kPictureScales) {
      QPixmap pix(QStringLiteral(":/pictures/") +
                  QString::fromStdString(layout::picture_file(picture, percent)));
      pix.setDevicePixelRatio(percent / 100.0);
      icon.addPixmap(pix);
    }
    combo->addItem(icon, q(entry));
  });
}

int QtWindowUi::instance_count() {
  int n = 0;
  on_gui([&] {
    if (auto* combo = qobject_cast<QComboBox*>(find("ddplb_mss2000_instances"))) n = combo->count();
  });
  return n;
}

void QtWindowUi::instance_select(int index) {
  on_gui([&] {
    auto* combo = qobject_cast<QComboBox*>(find("ddplb_mss2000_instances"));
    if (!combo || index < 1 || index > combo->count()) return;
    QSignalBlocker quiet(combo);
    combo->setCurrentIndex(index - 1);
  });
}

std::string QtWindowUi::instance_text() { return text("ddplb_mss2000_instances"); }

int QtWindowUi::file_open_dialog(const std::string& title, const std::string& filter,
                                 std::string& docname, std::string& named) {
  int value = 0;
  on_gui([&] {
    ArrowWhileModal arrow(busy_);
    QFileDialog dialog(&window_, q(title));
    dialog.setObjectName(QStringLiteral("file_open_dialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(qt_name_filters(filter));
    if (dialog.exec() != QDialog::Accepted) return;
    QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return;
    docname = QDir::toNativeSeparators(chosen.first()).toStdString();
    named = QFileInfo(chosen.first()).fileName().toStdString();
    value = 1;
  });
  return value;
}

std::string QtWindowUi::browse_for_folder(const std::string& caption) {
  std::string folder;
  on_gui([&] {
    ArrowWhileModal arrow(busy_);
    QFileDialog dialog(&window_, q(caption));
    dialog.setObjectName(QStringLiteral("folder_dialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted) return;
    QStringList chosen = dialog.selectedFiles();
    if (!chosen.isEmpty()) folder = QDir::toNativeSeparators(chosen.first()).toStdString();
  });
  return folder;
}

void QtWindowUi::set_progress(int percent) {
  QPointer<QProgressBar> bar = qobject_cast<QProgressBar*>(find("hpb_restore"));
  if (!bar) return;
  auto apply = [bar, percent] {
    if (!bar) return;
    if (percent < 0) {
      bar->hide();
    } else {
      bar->setValue(std::clamp(percent, 0, 100));
      bar->show();
    }
  };
  if (on_gui_thread()) {
    apply();
  } else {
    // Never wait here: the caller may be inside a database call.
    QMetaObject::invokeMethod(bar.data(), apply, Qt::QueuedConnection);
  }
}

void QtWindowUi::run_blocking(const std::function<void()>& work) {
  if (!on_gui_thread()) {
    work();
    return;
  }
  // The call runs on a worker while the window keeps handling paint, timer
  // and posted events (status texts, progress); its input is dropped.
  InputBlocker blocker(window_);
  QEventLoop loop;
  run_on_worker(
      work, [&] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); },
      [&] {
        loop.exec();
        // Input that came in while the call ended is dropped too.
        QCoreApplication::processEvents();
      });
}

}  // namespace dbsetup
