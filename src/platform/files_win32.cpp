// The local file system and profile (INI) reading on Windows.
//
// Paths and texts are UTF-8 inside the program; they reach Windows as UTF-16
// through the W functions, so a folder name outside the ANSI code page is
// still found. Paths near MAX_PATH characters or longer are handed over in
// their "\\?\" form, which lifts that limit.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/files_win32.h"
#include "platform/platform.h"
#include "platform/profile_ini.h"
#include "platform/text_trim.h"

namespace dbsetup {

namespace {

std::wstring ansi_to_wide(std::string_view ansi) {
  if (ansi.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), out.data(), n);
  return out;
}

std::wstring current_directory_wide() {
  std::wstring buffer(MAX_PATH, L'\0');
  // The directory may change between the calls; ask until the answer fits.
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n, L'\0');  // n counts the terminating NUL
  }
  return {};
}

// Below this length every Win32 file function takes a path as it is (248 is
// the limit for directories, 260 for files).
constexpr std::size_t kShortPath = 248;

}  // namespace

std::wstring win32_file_path(const std::string& path) {
  std::wstring wide = widen(path);
  if (wide.size() < kShortPath || wide.rfind(LR"(\\?\)", 0) == 0) return wide;
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return wide;
  full.resize(n);
  if (full.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

// The program has always asked for the current directory with
// GetCurrentDirectoryA and a buffer of 256 characters. That answer is in the
// ANSI code page, and it is kept whenever it names the folder exactly, which
// the Unicode answer confirms. Where it cannot, the Unicode answer is taken:
//   - the path does not fit the buffer (GetCurrentDirectoryA then returns the
//     size it needs instead of the path);
//   - the path holds characters the ANSI code page lacks, which Windows
//     replaces by '?' or by a look-alike letter.
// A drive root is reported with its trailing backslash ("C:\"), every other
// folder without one, by both functions.
std::string Win32Files::current_directory() {
  char buffer[256];
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  std::wstring wide = current_directory_wide();
  if (n > 0 && n < sizeof buffer) {
    std::wstring from_ansi = ansi_to_wide(std::string_view(buffer, n));
    if (from_ansi == wide || wide.empty()) return narrow(from_ansi);
  }
  return narrow(wide);
}

bool Win32Files::exists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(win32_file_path(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32Files::remove(const std::string& path) {
  return DeleteFileW(win32_file_path(path).c_str()) != 0;
}

// ---------------------------------------------------------------------------
// Profile files

namespace {}  // namespace

// The Windows build has no inih: the same rules, parsed here.
ProfileIni ProfileIni::parse(std::string_view bytes) {
  ProfileIni profile;
  const std::string text = ProfileIni::text(bytes);
  std::string_view rest(text);
  std::string section;
  while (!rest.empty()) {
    std::size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    if (end == std::string_view::npos) {
      rest = {};
    } else {
      bool crlf = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
      rest.remove_prefix(end + (crlf ? 2 : 1));
    }

    line = trim_right(cut_utf8(trim_left(line), ProfileIni::kMaxLineBytes));
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']', 1);
      // Without its ']' the line is not a section header and is skipped.
      if (close != std::string_view::npos)
        section = std::string(line.substr(1, std::min(close - 1, ProfileIni::kMaxSectionBytes)));
      continue;
    }
    std::size_t separator = line.find_first_of("=:");
    if (separator == std::string_view::npos) continue;
    profile.add(section, line.substr(0, separator), line.substr(separator + 1));
  }
  return profile;
}

namespace {

// The whole file; nullopt when it cannot be opened or read.
std::optional<std::string> read_file(const std::string& path) {
  HANDLE file = CreateFileW(win32_file_path(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char chunk[16384];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != 0) && got > 0)
    bytes.append(chunk, got);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return bytes;
}

}  // namespace

std::string Win32ProfileReader::read(const std::string& file, const std::string& section,
                                     const std::string& key, const std::string& default_value) {
  std::optional<std::string> bytes = read_file(file);
  if (!bytes) return default_value;
  return ProfileIni::parse(*bytes).get(section, key).value_or(default_value);
}

std::unique_ptr<FileSystem> make_system_files() { return std::make_unique<Win32Files>(); }

std::unique_ptr<ProfileReader> make_system_profile_reader() {
  return std::make_unique<Win32ProfileReader>();
}

}  // namespace dbsetup
