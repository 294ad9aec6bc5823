#pragma once

#include <string>
#include <string_view>

namespace dbsetup {

// Conversions at the edges where texts are bytes in code page 936 (GBK).
// Undecodable input is replaced, never dropped silently: an invalid GBK
// sequence becomes U+FFFD, a character GBK lacks becomes '?'.
std::string cp936_to_utf8(std::string_view bytes);
std::string utf8_to_cp936(std::string_view text);

// UTF-16 helpers (little-endian code units), used by the registry file reader
// and the database client.
std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

// True when `bytes` is well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

#ifdef _WIN32
// UTF-8 to and from the UTF-16 of the Windows W functions (wchar_t is a
// UTF-16 code unit there).
inline std::wstring widen(std::string_view utf8) {
  std::u16string units = utf8_to_utf16(utf8);
  return std::wstring(units.begin(), units.end());
}
inline std::string narrow(std::wstring_view wide) {
  return utf16_to_utf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}
#endif

}  // namespace dbsetup
