#include "platform/codepage.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace dbsetup {

namespace {

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `i`; returns U+FFFD and advances one byte on
// malformed input.
char32_t next_utf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  auto cont = [&](std::size_t k) {
    return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
  };
  auto at = [&](std::size_t k) { return static_cast<char32_t>(s[i + k] & 0x3F); };
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  if (b0 >= 0xC2 && b0 < 0xE0 && cont(1)) {
    char32_t cp = ((b0 & 0x1F) << 6) | at(1);
    i += 2;
    return cp;
  }
  if (b0 >= 0xE0 && b0 < 0xF0 && cont(1) && cont(2)) {
    char32_t cp = ((b0 & 0x0F) << 12) | (at(1) << 6) | at(2);
    if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
      i += 3;
      return cp;
    }
  }
  if (b0 >= 0xF0 && b0 < 0xF5 && cont(1) && cont(2) && cont(3)) {
    char32_t cp = ((b0 & 0x07) << 18) | (at(1) << 12) | (at(2) << 6) | at(3);
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      i += 4;
      return cp;
    }
  }
  ++i;
  return 0xFFFD;
}

#ifndef _WIN32
std::string convert(std::string_view in, const char* to, const char* from, const char* bad) {
  std::string out;
  if (in.empty()) return out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  out.reserve(in.size() * 2);
  char* src = const_cast<char*>(in.data());
  std::size_t src_left = in.size();
  char buffer[1024];
  while (src_left > 0) {
    char* dst = buffer;
    std::size_t dst_left = sizeof buffer;
    std::size_t rc = iconv(cd, &src, &src_left, &dst, &dst_left);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
    if (rc == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: replace the offending character and go on.
      out.append(bad);
      if (std::string_view(from) == "UTF-8") {
        std::size_t pos = static_cast<std::size_t>(src - in.data());
        std::size_t next = pos;
        next_utf8(in, next);
        src += next - pos;
        src_left -= next - pos;
      } else {
        // GBK: skip a lead byte together with a byte that could be its
        // trail; anything else (a blank, a line break) is read afresh.
        const auto lead = static_cast<unsigned char>(src[0]);
        const auto trail = src_left > 1 ? static_cast<unsigned char>(src[1]) : 0;
        std::size_t step =
            (lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F) ? 2
                                                                                              : 1;
        if (errno == EINVAL) step = src_left;
        src += step;
        src_left -= step;
      }
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}
#endif

}  // namespace

std::string cp936_to_utf8(std::string_view bytes) {
#ifdef _WIN32
  // One character at a time, so that a bad sequence becomes U+FFFD as it
  // does elsewhere instead of the system's private-use look-alikes.
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++i;
      continue;
    }
    const int len = (lead >= 0x81 && lead <= 0xFE && i + 1 < bytes.size()) ? 2 : 1;
    wchar_t wide[2];
    const int n = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes.data() + i, len, wide, 2);
    if (n <= 0) {
      append_utf8(out, 0xFFFD);
      ++i;  // a bad lead byte; its would-be trail byte is read afresh
      continue;
    }
    out += utf16_to_utf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(wide), static_cast<std::size_t>(n)));
    i += static_cast<std::size_t>(len);
  }
  return out;
#else
  return convert(bytes, "UTF-8", "GBK", "\xEF\xBF\xBD");
#endif
}

std::string utf8_to_cp936(std::string_view text) {
#ifdef _WIN32
  // One code point at a time: a character GBK lacks (a surrogate pair
  // included) becomes a single '?'.
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = next_utf8(text, i);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0x10000) {
      out.push_back('?');
      continue;
    }
    const wchar_t wide = static_cast<wchar_t>(cp);
    char buffer[4];
    BOOL defaulted = FALSE;
    const int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, &wide, 1, buffer, sizeof buffer,
                                      nullptr, &defaulted);
    if (n <= 0 || defaulted)
      out.push_back('?');
    else
      out.append(buffer, static_cast<std::size_t>(n));
  }
  return out;
#else
  return convert(text, "GBK", "UTF-8", "?");
#endif
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = next_utf8(text, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    append_utf8(out, cp);
  }
  return out;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t before = i;
    char32_t cp = next_utf8(bytes, i);
    if (cp == 0xFFFD) {
      // A genuine U+FFFD is three bytes; a replacement for bad input is one.
      if (i - before != 3) return false;
    }
  }
  return true;
}

std::string text_file_to_utf8(std::string_view bytes, bool code_page_936) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return utf16_to_utf8(units);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
    return is_valid_utf8(bytes) ? std::string(bytes) : utf16_to_utf8(utf8_to_utf16(bytes));
  }
  if (code_page_936 || !is_valid_utf8(bytes)) return cp936_to_utf8(bytes);
  return std::string(bytes);
}

}  // namespace dbsetup
