#include <QApplication>
#include <string>
#include <vector>

#include "app/application.h"
#include "window/w_createdb.h"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);

  dbsetup::Application app(dbsetup::default_platform());
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
