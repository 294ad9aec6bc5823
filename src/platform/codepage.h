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

// A Windows text file's bytes as UTF-8, as Notepad and regedit write them:
// UTF-16LE after its byte-order mark, UTF-8 after its own (invalid sequences
// become U+FFFD), otherwise code page 936 when `code_page_936` says so or the
// bytes are no UTF-8, else UTF-8 as it stands.
std::string text_file_to_utf8(std::string_view bytes, bool code_page_936 = false);

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
