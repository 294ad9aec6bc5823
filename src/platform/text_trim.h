#pragma once

#include <cstddef>
#include <string_view>

namespace dbsetup {

// The blanks of C's isspace() in the "C" locale.
inline constexpr std::string_view kSpaceChars = " \t\v\f\r\n";

inline std::string_view trim_left(std::string_view s, std::string_view blanks = kSpaceChars) {
  std::size_t i = s.find_first_not_of(blanks);
  return i == std::string_view::npos ? std::string_view() : s.substr(i);
}

inline std::string_view trim_right(std::string_view s, std::string_view blanks = kSpaceChars) {
  std::size_t i = s.find_last_not_of(blanks);
  return i == std::string_view::npos ? std::string_view() : s.substr(0, i + 1);
}

inline std::string_view trim(std::string_view s, std::string_view blanks = kSpaceChars) {
  return trim_left(trim_right(s, blanks), blanks);
}

// `s` cut to at most `limit` bytes without splitting a UTF-8 character.
inline std::string_view cut_utf8(std::string_view s, std::size_t limit) {
  if (s.size() <= limit) return s;
  std::size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

}  // namespace dbsetup
