#include "app/application.h"

namespace dbsetup {

Application::Application(Platform& platform) : platform_(platform) {}

Application::~Application() { destroy(); }

void Application::create() {
  appname_ = "db_setup";
  settings_ = Settings{};
  sqlca_ = std::make_unique<Transaction>(platform_.make_db_client ? platform_.make_db_client()
                                                                  : nullptr);
}

int Application::open(const std::vector<std::string>& /*command_line*/,
                      const std::function<int(Application&)>& open_window) {
  if (!sqlca_) create();
  return open_window ? open_window(*this) : 0;
}

void Application::destroy() { sqlca_.reset(); }

}  // namespace dbsetup
