#include "platform/profile_ini.h"

#include "platform/codepage.h"
#include "platform/text_trim.h"

namespace dbsetup {

namespace {

std::string fold(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string decode(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
    return is_valid_utf8(bytes) ? std::string(bytes) : utf16_to_utf8(utf8_to_utf16(bytes));
  }
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return utf16_to_utf8(units);
  }
  return is_valid_utf8(bytes) ? std::string(bytes) : cp936_to_utf8(bytes);
}

}  // namespace

std::string ProfileIni::text(std::string_view bytes) { return decode(bytes); }

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
