// The start of db_setup as its main() runs it, up to the first paint of the
// window with its fields filled by the detection; then it reports and ends.
// db_setup_bench starts it as a child process and takes the time from the
// moment it spawned it to the moment printed here (CLOCK_MONOTONIC, shared by
// all processes of the machine). Nothing here differs from the program's own
// start path but the end: instead of waiting for the operator, the window is
// checked and the process quits.
//
// Prints "filled <monotonic ns>" on success; exit status 1 when the window
// did not open, 2 when a field the detection fills is empty, 3 when nothing
// was painted within 20 seconds.

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "app/application.h"
#include "window/w_createdb.h"

namespace {

// Notices the window's first paint event.
class PaintWatch : public QObject {
 public:
  bool painted = false;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return QObject::eventFilter(watched, event);
  }
};

long long monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);

  dbsetup::SystemPlatform system(dbsetup::RunSettings::from_environment());
  dbsetup::Application app(system.platform());
  app.create();
  std::vector<std::string> command_line(argv + (argc > 0 ? 1 : 0), argv + argc);
  int rc = app.open(command_line, [](dbsetup::Application& a) {
    dbsetup::w_createdb window(a.settings(), a.sqlca(), a.platform());
    if (!window.open(dbsetup::kBuildEdition)) return 1;
    PaintWatch watch;
    window.installEventFilter(&watch);
    window.show();
    const long long deadline = monotonic_ns() + 20'000'000'000LL;
    while (!watch.painted) {
      QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
      if (!window.isVisible() || monotonic_ns() > deadline) return 3;
    }
    const long long filled = monotonic_ns();

    auto* name = window.findChild<QLineEdit*>(QStringLiteral("sle_dbname_2000"));
    auto* folder = window.findChild<QLineEdit*>(QStringLiteral("sle_mss2000data_setuppath"));
    auto* list = window.findChild<QComboBox*>(QStringLiteral("ddplb_mss2000_instances"));
    if (!name || name->text().isEmpty() || !folder || folder->text().isEmpty() || !list ||
        list->count() == 0)
      return 2;
    std::printf("filled %lld\n", filled);
    return 0;
  });
  app.destroy();
  return rc;
}
