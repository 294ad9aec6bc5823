#pragma once

#include <string>
#include <string_view>

namespace dbsetup {

// Whether two UTF-8 texts are equal when letter case is ignored, for every
// letter that has a case (Ä and ä, Σ and σ, not only A to Z). Invalid UTF-8
// compares by its replacement characters.
bool equal_ignoring_case(std::string_view a, std::string_view b);

}  // namespace dbsetup

namespace dbsetup {

// ASCII letters only, as the names of keys, columns, protocols and keywords
// compare: other bytes (UTF-8 included) stay as they are.
constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
constexpr char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
inline std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_lower(c);
  return out;
}
inline std::string ascii_upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = ascii_upper(c);
  return out;
}
constexpr bool equal_ascii_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  return true;
}

}  // namespace dbsetup
