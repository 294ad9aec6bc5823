#include "platform/profile_ini.h"
#include "platform/text_case.h"

#include "platform/codepage.h"
#include "platform/text_trim.h"

namespace dbsetup {

namespace {

std::string fold(std::string_view s) { return ascii_lower(s); }

}  // namespace

std::string ProfileIni::text(std::string_view bytes) { return text_file_to_utf8(bytes); }

void ProfileIni::add(std::string_view section, std::string_view key, std::string_view value) {
  value = trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  sections_[fold(trim(section))].try_emplace(fold(trim(key)), value);
}

std::optional<std::string> ProfileIni::get(std::string_view section, std::string_view key) const {
  auto s = sections_.find(fold(trim(section)));
  if (s == sections_.end()) return std::nullopt;
  auto k = s->second.find(fold(trim(key)));
  if (k == s->second.end()) return std::nullopt;
  return k->second;
}

}  // namespace dbsetup
