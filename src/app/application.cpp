#include "app/application.h"

#include "app/gf_str_xor.h"
#include "platform/codepage.h"

namespace dbsetup {

// "Marlox零售管理系统安装" in code page 936, scrambled.
const char kScrambledAppName[23] =
    "\x29\x04\xFB\x08\x03\xF7\xAA\x93\x9B\x92\xBB\x96\xAF\x7E\xA7\xB0\xA0\xC1\xC2\xBD\x94\xC6";

std::string display_name() {
  return cp936_to_utf8(gf_str_xor(std::string_view(kScrambledAppName, 22)));
}

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
