#include <QApplication>
#include <string>
#include <vector>

#include "app/application.h"
#include "platform/std_descriptors.h"
#include "window/qt_translations.h"
#include "window/w_createdb.h"

int main(int argc, char** argv) {
  if (!dbsetup::ensure_std_descriptors()) return 71;
  // The program takes nothing from its command line, and neither may Qt
  // (-platform, -style, -reverse, ...): it sees the program's name only. Qt
  // keeps a reference to the count for the life of the application.
  static char fallback_name[] = "db_setup";
  static int qt_argc = 1;
  static char* qt_argv[] = {argc > 0 && argv[0] ? argv[0] : fallback_name, nullptr};
  QApplication qapp(qt_argc, qt_argv);
  dbsetup::install_qt_translations();

  dbsetup::SystemPlatform system(dbsetup::RunSettings::from_environment());
  dbsetup::Application app(system.platform());
  app.create();
  // The command line is handed over as the open step expects it and ignored.
  std::vector<std::string> command_line(argv + (argc > 0 ? 1 : 0), argv + argc);
  int rc = app.open(command_line, [&qapp](dbsetup::Application& a) {
    dbsetup::w_createdb window(a.settings(), a.sqlca(), a.platform());
    // The opening step runs before the window shows; when it fails the
    // window has closed and the program ends without taking input.
    if (!window.open(dbsetup::kBuildEdition)) return 0;
    QObject::connect(&window, &dbsetup::w_createdb::closed, &qapp, &QApplication::quit,
                     Qt::QueuedConnection);
    window.show();
    return qapp.exec();
  });
  app.destroy();
  return rc;
}
