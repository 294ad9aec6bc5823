#pragma once

// Temporary folders and data files for tests that touch the real file system.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace dbsetup::testing {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when
// the object goes.
class TempDir {
 public:
  TempDir() : path_(std::filesystem::temp_directory_path() / "db_setup_test.XXXXXX") {
    if (::mkdtemp(path_.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Writes `bytes` as they are to path()/name and returns the full path.
  std::string write(std::string_view name, std::string_view bytes) const {
    std::string full = file(name);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + full);
    return full;
  }

 private:
  std::string path_;
};

// UTF-8 text as the bytes of a UTF-16LE file with its byte-order mark, the
// way the registry editor exports.
inline std::string utf16le_file(std::string_view utf8) {
  std::string out = "\xFF\xFE";
  for (char16_t unit : utf8_to_utf16(utf8)) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

// Bytes as a registry file writes binary data: "01,ab,ff".
inline std::string hex_bytes(std::string_view bytes) {
  std::string out;
  char buf[8];
  for (unsigned char byte : bytes) {
    std::snprintf(buf, sizeof buf, "%02x,", byte);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

// The hex(7) data of a multi-string in a version 5 registry file: the texts
// as UTF-16LE, each ending in a NUL, and one more NUL at the end.
inline std::string reg_multi_sz(std::initializer_list<std::string_view> texts) {
  std::string bytes;
  for (std::string_view text : texts) bytes += utf16le_file(text).substr(2) + std::string(2, '\0');
  return "hex(7):" + hex_bytes(bytes + std::string(2, '\0'));
}

}  // namespace dbsetup::testing
