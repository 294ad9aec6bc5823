#include "platform/registry_file.h"
#include "platform/text_case.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/codepage.h"
#include "platform/platform.h"
#include "platform/text_trim.h"

namespace dbsetup {

namespace {

// A .reg line's blanks.
constexpr std::string_view kBlanks = " \t";

std::string fold(std::string_view s) { return ascii_lower(s); }

bool starts_with_nocase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && equal_ascii_ignoring_case(s.substr(0, prefix.size()), prefix);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = ascii_lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// 1 to 8 hex digits, nothing else.
std::optional<uint32_t> parse_hex_number(std::string_view s) {
  if (s.empty() || s.size() > 8) return std::nullopt;
  uint32_t n = 0;
  for (char c : s) {
    int d = hex_digit(c);
    if (d < 0) return std::nullopt;
    n = (n << 4) | static_cast<uint32_t>(d);
  }
  return n;
}

// "41,00,42,00": comma-separated bytes of one or two hex digits; blanks around
// them and one trailing comma are tolerated, an empty list is no bytes.
std::optional<std::string> parse_hex_bytes(std::string_view s) {
  std::string out;
  s = trim(s, kBlanks);
  if (s.empty()) return out;
  std::size_t start = 0;
  while (start <= s.size()) {
    std::size_t comma = s.find(',', start);
    std::string_view token =
        trim(s.substr(start, comma == std::string_view::npos ? s.npos : comma - start), kBlanks);
    bool last = comma == std::string_view::npos;
    if (token.empty()) {
      // Only "...,XX," may end in an empty token.
      if (!last || out.empty()) return std::nullopt;
      break;
    }
    if (token.size() > 2) return std::nullopt;
    auto byte = parse_hex_number(token);
    if (!byte) return std::nullopt;
    out.push_back(static_cast<char>(*byte));
    if (last) break;
    start = comma + 1;
  }
  return out;
}

// A quoted name or string starting at s[pos] == '"'. \\ and \" stand for one
// backslash and one quote; any other backslash is taken as it stands. On
// success `pos` is past the closing quote.
std::optional<std::string> parse_quoted(std::string_view s, std::size_t& pos) {
  std::string out;
  std::size_t i = pos + 1;
  while (i < s.size()) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out.push_back(s[i + 1]);
      i += 2;
    } else if (c == '"') {
      pos = i + 1;
      return out;
    } else {
      out.push_back(c);
      ++i;
    }
  }
  return std::nullopt;
}

// The NUL-terminated texts in the bytes of a hex(1), hex(2) or hex(7) value:
// UTF-16LE code units in a version 5 file, code page 936 bytes in REGEDIT4.
// An unterminated last text counts when it is not empty.
std::vector<std::string> split_texts(std::string_view bytes, bool unicode) {
  std::vector<std::string> out;
  if (unicode) {
    std::u16string current;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8));
      if (unit == 0) {
        out.push_back(utf16_to_utf8(current));
        current.clear();
      } else {
        current.push_back(unit);
      }
    }
    if (!current.empty()) out.push_back(utf16_to_utf8(current));
  } else {
    std::size_t start = 0;
    while (start < bytes.size()) {
      std::size_t nul = bytes.find('\0', start);
      if (nul == std::string_view::npos) {
        out.push_back(cp936_to_utf8(bytes.substr(start)));
        break;
      }
      out.push_back(cp936_to_utf8(bytes.substr(start, nul - start)));
      start = nul + 1;
    }
  }
  return out;
}

const char* const kRoots[][2] = {
    {"hkey_local_machine", "hklm"}, {"hkey_current_user", "hkcu"},   {"hkey_classes_root", "hkcr"},
    {"hkey_users", "hku"},          {"hkey_current_config", "hkcc"},
};

// The lower-cased form of a full key path with its root name spelled out, or
// the empty string when the path has no known root or an empty component. A
// trailing backslash is dropped.
std::string canonical_key(std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  std::size_t first_end = path.find('\\');
  std::string root = fold(path.substr(0, first_end));
  bool known = false;
  for (const auto& r : kRoots) {
    if (root == r[0] || root == r[1]) {
      root = r[0];
      known = true;
      break;
    }
  }
  if (!known) return {};
  std::string out = root;
  if (first_end == std::string_view::npos) return out;
  std::string_view rest = path.substr(first_end + 1);
  std::size_t start = 0;
  while (true) {
    std::size_t sep = rest.find('\\', start);
    std::string_view part =
        rest.substr(start, sep == std::string_view::npos ? rest.npos : sep - start);
    if (part.empty()) return {};
    out.push_back('\\');
    out += fold(part);
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  return out;
}

// Reads the regular file at `path` if it holds at most `max_bytes`. A device
// such as /dev/zero never ends and a FIFO may never be written to: anything
// but a regular file counts as unreadable, and so does a larger file.
bool read_export(const std::string& path, std::size_t max_bytes, std::string& bytes) {
  bytes.clear();
  // Without O_NONBLOCK, opening a FIFO would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            static_cast<unsigned long long>(st.st_size) <= max_bytes;
  char buffer[65536];
  while (ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      ok = errno == EINTR;
      continue;
    }
    // The file may have grown since fstat().
    ok = bytes.size() + static_cast<std::size_t>(n) <= max_bytes;
    if (ok) bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!ok) bytes.clear();
  return ok;
}

}  // namespace

RegistryFile::RegistryFile(const std::string& path, std::size_t max_bytes) {
  std::string bytes;
  if (read_export(path, max_bytes, bytes)) load(bytes);
}

RegistryFile RegistryFile::from_bytes(std::string_view bytes) {
  RegistryFile registry;
  registry.load(bytes);
  return registry;
}

void RegistryFile::load(std::string_view bytes) {
  // Decode the whole file to UTF-8 first, so that no trail byte of a
  // double-byte character is taken for a bracket, a quote or a backslash.
  auto is_regedit4 = [](std::string_view s) {
    std::size_t i = s.find_first_not_of(" \t\r\n");
    return i != std::string_view::npos && starts_with_nocase(s.substr(i), "REGEDIT4");
  };
  const bool bom = (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                   (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF");
  const std::string text = text_file_to_utf8(bytes, !bom && is_regedit4(bytes));
  // The data of hex(1), hex(2) and hex(7) values is UTF-16LE except in
  // REGEDIT4 files, which hold it in the ANSI code page.
  const bool unicode = !is_regedit4(text);

  // Split into lines at CR LF, LF or CR.
  std::vector<std::string_view> lines;
  std::string_view all(text);
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(all.substr(start));
      break;
    }
    lines.push_back(all.substr(start, end - start));
    start = end + ((all[end] == '\r' && end + 1 < all.size() && all[end + 1] == '\n') ? 2 : 1);
  }

  Values* current = nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view first = trim(lines[i], kBlanks);
    if (first.empty() || first.front() == ';') continue;
    std::string logical(first);
    // A trailing backslash joins the next line, without its leading blanks.
    while (!logical.empty() && logical.back() == '\\' && i + 1 < lines.size()) {
      logical.pop_back();
      ++i;
      logical += trim(lines[i], kBlanks);
    }
    apply_line(trim(logical, kBlanks), unicode, current);
  }
}

void RegistryFile::apply_line(std::string_view line, bool unicode, Values*& current) {
  if (line.empty()) return;
  if (line.front() == '[') return apply_key_line(line, current);
  if ((line.front() == '"' || line.front() == '@') && current)
    apply_value_line(line, unicode, *current);
}

// "[key]" opens a key, "[-key]" removes it with everything below it.
void RegistryFile::apply_key_line(std::string_view line, Values*& current) {
  current = nullptr;
  if (line.size() < 2 || line.back() != ']') return;
  std::string_view path = line.substr(1, line.size() - 2);
  bool remove = !path.empty() && path.front() == '-';
  if (remove) path.remove_prefix(1);
  std::string key = canonical_key(path);
  if (key.empty()) return;
  if (!remove) {
    current = &keys_[key];
    return;
  }
  std::string below = key + "\\";
  for (auto it = keys_.begin(); it != keys_.end();) {
    if (it->first == key || it->first.compare(0, below.size(), below) == 0)
      it = keys_.erase(it);
    else
      ++it;
  }
}

// "name"=data or @=data; data "-" removes the value.
void RegistryFile::apply_value_line(std::string_view line, bool unicode, Values& current) {
  std::string name;
  std::size_t pos = 1;
  if (line.front() == '"') {
    pos = 0;
    auto parsed = parse_quoted(line, pos);
    if (!parsed) return;
    name = std::move(*parsed);
  }
  std::string_view rest = trim_left(line.substr(pos), kBlanks);
  if (rest.empty() || rest.front() != '=') return;
  std::string_view data = trim(rest.substr(1), kBlanks);
  if (data == "-") {
    current.erase(fold(name));
    return;
  }
  if (auto value = read_value(data, unicode)) current[fold(name)] = std::move(*value);
}

// A value's data: "text", dword:, hex: or hex(N):; nothing when it is none.
std::optional<RegistryFile::Value> RegistryFile::read_value(std::string_view data, bool unicode) {
  Value value;
  if (!data.empty() && data.front() == '"') {
    std::size_t end = 0;
    auto text = parse_quoted(data, end);
    if (!text || end != data.size()) return std::nullopt;
    value.kind = Value::String;
    value.text = std::move(*text);
    return value;
  }
  if (starts_with_nocase(data, "dword:")) {
    auto number = parse_hex_number(trim(data.substr(6), kBlanks));
    if (!number) return std::nullopt;
    value.kind = Value::Dword;
    value.dword = *number;
    return value;
  }
  if (starts_with_nocase(data, "hex:")) {
    if (!parse_hex_bytes(data.substr(4))) return std::nullopt;
    value.kind = Value::Other;  // binary data: kept, but not readable as text
    return value;
  }
  if (!starts_with_nocase(data, "hex(")) return std::nullopt;
  std::size_t close = data.find(')');
  if (close == std::string_view::npos || close + 1 >= data.size() || data[close + 1] != ':')
    return std::nullopt;
  auto type = parse_hex_number(data.substr(4, close - 4));
  auto bytes = type ? parse_hex_bytes(data.substr(close + 2)) : std::nullopt;
  if (!bytes) return std::nullopt;
  switch (*type) {
    case 1:    // REG_SZ
    case 2: {  // REG_EXPAND_SZ, read unexpanded
      auto texts = split_texts(*bytes, unicode);
      value.kind = Value::String;
      if (!texts.empty()) value.text = std::move(texts.front());
      break;
    }
    case 7: {  // REG_MULTI_SZ: the list ends at the first empty text
      value.kind = Value::MultiString;
      for (auto& t : split_texts(*bytes, unicode)) {
        if (t.empty()) break;
        value.list.push_back(std::move(t));
      }
      break;
    }
    case 4:  // REG_DWORD, little-endian
      if (bytes->size() == 4) {
        value.kind = Value::Dword;
        for (int k = 3; k >= 0; --k)
          value.dword = (value.dword << 8) | static_cast<unsigned char>((*bytes)[k]);
      }
      break;
    default:
      break;
  }
  return value;
}

const RegistryFile::Value* RegistryFile::find(const std::string& key,
                                              const std::string& name) const {
  std::string canonical = canonical_key(key);
  if (canonical.empty()) return nullptr;
  auto k = keys_.find(canonical);
  if (k == keys_.end()) return nullptr;
  auto v = k->second.find(fold(name));
  return v == k->second.end() ? nullptr : &v->second;
}

bool RegistryFile::get_string(const std::string& key, const std::string& name, std::string& value) {
  value.clear();
  const Value* v = find(key, name);
  if (!v || v->kind != Value::String) return false;
  value = v->text;
  return true;
}

bool RegistryFile::get_multi_string(const std::string& key, const std::string& name,
                                    std::vector<std::string>& values) {
  values.clear();
  const Value* v = find(key, name);
  if (!v || v->kind != Value::MultiString) return false;
  values = v->list;
  return true;
}

bool RegistryFile::get_dword(const std::string& key, const std::string& name, uint32_t& value) {
  value = 0;
  const Value* v = find(key, name);
  if (!v || v->kind != Value::Dword) return false;
  value = v->dword;
  return true;
}

std::string system_registry_path(const RunSettings& settings) {
  return settings.registry_file.empty() ? "/etc/db_setup/registry.reg" : settings.registry_file;
}

std::unique_ptr<Registry> make_system_registry(const RunSettings& settings) {
  return std::make_unique<RegistryFile>(system_registry_path(settings));
}

}  // namespace dbsetup
