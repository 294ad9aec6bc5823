// Loads a driver library as the driver manager would (the system counts the
// loads, so both share one copy) and asks it through its own entry points.

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/codepage.h"
#include "platform/odbc_driver_version.h"

namespace dbsetup::odbc {

namespace {

using AllocHandle = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
using SetEnvAttr = SQLRETURN(SQL_API*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
using GetInfo = SQLRETURN(SQL_API*)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT*);
using FreeHandle = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE);

struct Entries {
  AllocHandle alloc = nullptr;
  SetEnvAttr set_env = nullptr;
  GetInfo get_info = nullptr;
  FreeHandle free = nullptr;
};

// Asks the driver through its entry points; ANSI SQLGetInfo answers in bytes.
std::string ask(const Entries& e) {
  if (!e.alloc || !e.set_env || !e.get_info || !e.free) return {};
  SQLHANDLE env = SQL_NULL_HANDLE;
  SQLHANDLE dbc = SQL_NULL_HANDLE;
  std::string version;
  if (SQL_SUCCEEDED(e.alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    e.set_env(env, SQL_ATTR_ODBC_VERSION,
              reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0);
    if (SQL_SUCCEEDED(e.alloc(SQL_HANDLE_DBC, env, &dbc))) {
      char buffer[64] = {};
      SQLSMALLINT length = 0;
      if (SQL_SUCCEEDED(e.get_info(dbc, SQL_DRIVER_VER, buffer, sizeof(buffer), &length)))
        version.assign(buffer, std::min<std::size_t>(length < 0 ? 0 : length, sizeof(buffer) - 1));
      e.free(SQL_HANDLE_DBC, dbc);
    }
    e.free(SQL_HANDLE_ENV, env);
  }
  return version;
}

}  // namespace

#ifdef _WIN32

std::string driver_library_version(const std::string& driver) {
  std::u16string path = utf8_to_utf16(driver);
  if (driver.find_first_of("\\/") == std::string::npos) {
    wchar_t buffer[1024] = {};
    const std::u16string name = utf8_to_utf16(driver);
    SQLGetPrivateProfileStringW(reinterpret_cast<const wchar_t*>(name.c_str()), L"Driver", L"",
                                buffer, 1024, L"ODBCINST.INI");
    path = reinterpret_cast<const char16_t*>(buffer);
  }
  if (path.empty()) return {};
  HMODULE library = LoadLibraryW(reinterpret_cast<const wchar_t*>(path.c_str()));
  if (!library) return {};
  // Through the generic function type, which any function pointer may take.
  auto entry = [&](const char* name) {
    return reinterpret_cast<void (*)()>(GetProcAddress(library, name));
  };
  Entries e;
  e.alloc = reinterpret_cast<AllocHandle>(entry("SQLAllocHandle"));
  e.set_env = reinterpret_cast<SetEnvAttr>(entry("SQLSetEnvAttr"));
  e.get_info = reinterpret_cast<GetInfo>(entry("SQLGetInfo"));
  e.free = reinterpret_cast<FreeHandle>(entry("SQLFreeHandle"));
  return ask(e);  // the library stays: the driver manager loads it for the logon
}

#else

namespace {

// unixODBC's installer library, whose SQLGetPrivateProfileString reads
// odbcinst.ini. It is opened only here, when a driver is named: linked in, it
// would lie in the process' global scope, ahead of the C library, and make
// every symbol the driver's own libraries bind at each logon a little dearer
// to look up. The driver manager loads the same copy for itself.
using GetPrivateProfileString = decltype(&SQLGetPrivateProfileString);

std::string driver_file(const std::string& driver) {
  void* installer = dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_LOCAL);
  if (!installer) return {};
  const auto read =
      reinterpret_cast<GetPrivateProfileString>(dlsym(installer, "SQLGetPrivateProfileString"));
  char buffer[4096] = {};
  if (read) read(driver.c_str(), "Driver", "", buffer, sizeof(buffer), "ODBCINST.INI");
  dlclose(installer);
  return buffer;
}

}  // namespace

std::string driver_library_version(const std::string& driver) {
  const std::string path = driver.find('/') == std::string::npos ? driver_file(driver) : driver;
  if (path.empty()) return {};
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  // unixODBC looks a bare file name up in its own driver folder, which
  // Debian puts beside the driver manager: <libdir>/odbc.
  Dl_info manager{};
  if (!library && path.find('/') == std::string::npos &&
      dladdr(reinterpret_cast<void*>(&SQLDriverConnect), &manager) && manager.dli_fname) {
    std::string folder = manager.dli_fname;
    folder.erase(folder.rfind('/') + 1);
    library = dlopen((folder + "odbc/" + path).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (!library) return {};
  Entries e;
  e.alloc = reinterpret_cast<AllocHandle>(dlsym(library, "SQLAllocHandle"));
  e.set_env = reinterpret_cast<SetEnvAttr>(dlsym(library, "SQLSetEnvAttr"));
  e.get_info = reinterpret_cast<GetInfo>(dlsym(library, "SQLGetInfo"));
  e.free = reinterpret_cast<FreeHandle>(dlsym(library, "SQLFreeHandle"));
  return ask(e);  // the library stays: the driver manager loads it for the logon
}

#endif

}  // namespace dbsetup::odbc
