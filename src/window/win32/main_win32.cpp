// The program's entry point on Windows: the application object opens the
// Win32 window of the edition this build installs to.

#include <string>
#include <vector>

#include "app/application.h"
#include "window/win32/win32_window.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  dbsetup::SystemPlatform system(dbsetup::RunSettings::from_environment());
  dbsetup::Application app(system.platform());
  app.create();
  // The command line is ignored.
  const std::vector<std::string> command_line;
  int rc = app.open(command_line, [](dbsetup::Application& a) {
    dbsetup::Win32Window window(a.settings(), a.sqlca(), a.platform());
    // The opening step runs before the window shows; when it fails the
    // window has closed and the program ends without taking input.
    if (!window.open(dbsetup::kBuildEdition)) return 0;
    window.on_closed = [] { PostQuitMessage(0); };
    window.show();
    return window.run();
  });
  app.destroy();
  return rc;
}
