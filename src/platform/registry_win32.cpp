// The Windows registry through the Win32 API, read only.
//
// SQL Server 7.0 and 2000 are 32-bit programs: on 64-bit Windows their keys
// live in the 32-bit view of HKEY_LOCAL_MACHINE\SOFTWARE (Wow6432Node), which
// a 64-bit process only sees when it asks for it. Every read therefore looks
// in the 32-bit view first and then in the 64-bit one; a value present in
// both is taken from the 32-bit view. On 32-bit Windows both flags name the
// same (only) view.
//
// Names travel as UTF-16 (the W functions): a Chinese instance name reads the
// same whatever the ANSI code page of the machine.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/platform.h"
#include "platform/text_case.h"

namespace dbsetup {

namespace {

struct Root {
  const char* name;
  const char* abbreviation;
  HKEY key;
};

const Root kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

// Splits "ROOT\sub\key" into the root's handle and the subkey path. False for
// an unknown root.
bool split_key(std::string_view path, HKEY& root, std::wstring& subkey) {
  std::size_t slash = path.find('\\');
  std::string_view root_name = path.substr(0, slash);
  for (const Root& r : kRoots) {
    if (equal_ascii_ignoring_case(root_name, r.name) ||
        equal_ascii_ignoring_case(root_name, r.abbreviation)) {
      root = r.key;
      subkey = slash == std::string_view::npos ? std::wstring() : widen(path.substr(slash + 1));
      return true;
    }
  }
  return false;
}

class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (key_) RegCloseKey(key_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// One value's type and data, as stored. False when the key or the value is
// missing or cannot be read.
bool query_value(HKEY root, const std::wstring& subkey, const std::wstring& name, REGSAM view,
                 DWORD& type, std::vector<wchar_t>& data) {
  KeyHandle key;
  if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_QUERY_VALUE | view, key.out()) != ERROR_SUCCESS)
    return false;
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
    return false;
  // The value may change between the two calls; ask again until it fits.
  for (int attempt = 0; attempt < 8; ++attempt) {
    // Room for the data and for two terminating NULs the writer may have left out.
    data.assign(size / sizeof(wchar_t) + 3, L'\0');
    DWORD room = static_cast<DWORD>((data.size() - 2) * sizeof(wchar_t));
    LSTATUS rc = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &room);
    if (rc == ERROR_SUCCESS) {
      data.resize(room / sizeof(wchar_t));
      return true;
    }
    if (rc != ERROR_MORE_DATA) return false;
    size = room;
  }
  return false;
}

enum class Kind { String, MultiString, Dword };

// Reads a string (one text) or a multi-string (a list) from the first view
// that holds the value with a type of that kind.
bool read(const std::string& key, const std::string& name, Kind kind,
          std::vector<std::string>& texts) {
  texts.clear();
  HKEY root = nullptr;
  std::wstring subkey;
  if (!split_key(key, root, subkey)) return false;
  const std::wstring value_name = widen(name);
  for (REGSAM view : {static_cast<REGSAM>(KEY_WOW64_32KEY), static_cast<REGSAM>(KEY_WOW64_64KEY)}) {
    DWORD type = REG_NONE;
    std::vector<wchar_t> data;
    if (!query_value(root, subkey, value_name, view, type, data)) continue;
    if (kind == Kind::String && (type == REG_SZ || type == REG_EXPAND_SZ)) {
      // The text ends at its first NUL; REG_EXPAND_SZ is returned as stored,
      // its %variables% not expanded.
      std::wstring_view all(data.data(), data.size());
      texts.push_back(narrow(all.substr(0, all.find(L'\0'))));
      return true;
    }
    if (kind == Kind::Dword && type == REG_DWORD && data.size() * sizeof(wchar_t) >= 4) {
      DWORD number = 0;
      std::memcpy(&number, data.data(), sizeof number);
      texts.push_back(std::to_string(number));
      return true;
    }
    if (kind == Kind::MultiString && type == REG_MULTI_SZ) {
      // NUL-separated texts; an empty text (two NULs in a row) ends the list.
      std::wstring_view rest(data.data(), data.size());
      while (!rest.empty()) {
        std::size_t end = rest.find(L'\0');
        std::wstring_view item = rest.substr(0, end);
        if (item.empty()) break;
        texts.push_back(narrow(item));
        if (end == std::wstring_view::npos) break;
        rest.remove_prefix(end + 1);
      }
      return true;
    }
    // A value of another type is not what was asked for; the other view may
    // still hold one that is.
  }
  return false;
}

class Win32Registry : public Registry {
 public:
  bool get_string(const std::string& key, const std::string& name, std::string& value) override {
    value.clear();
    std::vector<std::string> texts;
    if (!read(key, name, Kind::String, texts)) return false;
    value = texts.front();
    return true;
  }

  bool get_multi_string(const std::string& key, const std::string& name,
                        std::vector<std::string>& values) override {
    return read(key, name, Kind::MultiString, values);
  }

  bool get_dword(const std::string& key, const std::string& name, uint32_t& value) override {
    value = 0;
    std::vector<std::string> texts;
    if (!read(key, name, Kind::Dword, texts)) return false;
    value = static_cast<uint32_t>(std::stoul(texts.front()));
    return true;
  }
};

}  // namespace

std::unique_ptr<Registry> make_system_registry(const RunSettings&) {
  return std::make_unique<Win32Registry>();
}

}  // namespace dbsetup
