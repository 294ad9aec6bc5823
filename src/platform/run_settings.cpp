#include "platform/run_settings.h"

#include <cstdlib>

#include "platform/codepage.h"
#include "platform/text_trim.h"

#ifdef _WIN32
#include <stdlib.h>
#endif

namespace dbsetup {

long seconds_setting(const char* value, long fallback) {
  if (!value) return fallback;
  const std::string_view text = trim(value, " \t");
  // Six digits at most: more cannot be a day or less, and stol might overflow.
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != text.npos)
    return fallback;
  const long seconds = std::stol(std::string(text));
  return seconds >= 1 && seconds <= 86'400 ? seconds : fallback;
}

RunSettings RunSettings::from(const Lookup& lookup) {
  RunSettings s;
  const auto seconds = [&](const char* name, long fallback) {
    const auto v = lookup(name);
    return seconds_setting(v ? v->c_str() : nullptr, fallback);
  };
  s.login_timeout_seconds = seconds("DB_SETUP_LOGIN_TIMEOUT", s.login_timeout_seconds);
  s.silence_timeout_seconds = seconds("DB_SETUP_SILENCE_TIMEOUT", s.silence_timeout_seconds);
  s.odbc_driver = lookup("DB_SETUP_ODBC_DRIVER").value_or("");
  s.registry_file = lookup("DB_SETUP_REGISTRY").value_or("");
  return s;
}

std::optional<std::string> environment_variable(const char* name) {
#ifdef _WIN32
  // getenv() answers in the ANSI code page.
  const std::u16string wide_name = utf8_to_utf16(name);
  const wchar_t* v = _wgetenv(reinterpret_cast<const wchar_t*>(wide_name.c_str()));
  if (!v) return std::nullopt;
  return utf16_to_utf8(reinterpret_cast<const char16_t*>(v));
#else
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
#endif
}

RunSettings RunSettings::from_environment() { return from(environment_variable); }

}  // namespace dbsetup
