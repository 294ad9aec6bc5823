#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/transaction.h"
#include "support/fake_machine.h"
#include "window/qt_translations.h"
#include "window/qt_window_ui.h"
#include "window/w_createdb.h"

namespace dbsetup::testing {

// The Qt application every window test runs in (offscreen under ctest).
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    install_qt_translations();
    // A modal dialog that nobody answers would hang the test binary: close
    // any that stays open for long.
    watchdog_ = std::make_unique<QTimer>();
    QObject::connect(watchdog_.get(), &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal != modal_) {
        modal_ = modal;
        since_.start();
      } else if (modal && since_.elapsed() > 15000) {
        ADD_FAILURE() << "modal " << modal->metaObject()->className() << " left open";
        modal->close();
      }
    });
    watchdog_->start(250);
  }
  void TearDown() override {
    watchdog_.reset();
    app_.reset();
  }

 private:
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<QTimer> watchdog_;
  QWidget* modal_ = nullptr;
  QElapsedTimer since_;
};

// Registered once for the whole test binary.
inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// One message box the window showed.
struct ShownBox {
  std::string title;
  std::string text;
  MsgButtons buttons;
};

// A window on fakes: the settings, sqlca on the fake client, and message
// boxes recorded and answered with their default button.
struct WindowHarness {
  FakePlatform fake;
  Settings gs;
  Transaction sqlca;
  std::unique_ptr<w_createdb> window;
  std::vector<ShownBox> boxes;
  std::function<void()> on_box;  // runs inside each box

  // sqlca on the fake client unless another is given.
  explicit WindowHarness(std::unique_ptr<DbClient> client = nullptr)
      : sqlca(client ? std::move(client) : fake.platform.make_db_client()) {
    window = std::make_unique<w_createdb>(gs, sqlca, fake.platform);
    window->ui().message_box_hook = [this](const std::string& title, const std::string& text,
                                           MsgIcon, MsgButtons buttons, int def) {
      boxes.push_back({title, text, buttons});
      if (on_box) on_box();
      return buttons == MsgButtons::YesNo ? def : 1;
    };
  }

  template <class T = QWidget>
  T* control(const char* name) {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  std::string text(const char* name) { return window->ui().text(name); }
  // Shows the window; whether it reached the screen.
  bool show() {
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
  }

  // Opens the window of `edition` on a machine that has it.
  void open(const std::string& edition) {
    fake_machine(fake, edition);
    ASSERT_TRUE(window->open(edition));
    ASSERT_TRUE(boxes.empty()) << boxes.front().text;
  }
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  std::atomic<int> paints{0};

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Waits for a modal widget of type T (a dialog the code under test opened)
// and acts on it; gives up, closing whatever is modal, after `timeout_ms`.
template <class T>
void when_modal(std::function<void(T*)> act, int timeout_ms = 10000) {
  auto* timer = new QTimer;
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, [timer, clock, act, timeout_ms] {
    QWidget* modal = QApplication::activeModalWidget();
    if (T* found = qobject_cast<T*>(modal)) {
      timer->stop();
      timer->deleteLater();
      act(found);
    } else if (clock->elapsed() > timeout_ms) {
      timer->stop();
      timer->deleteLater();
      ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " appeared";
      if (modal) modal->close();
    }
  });
  timer->start(20);
}

}  // namespace dbsetup::testing
