#include "platform/files_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "platform/profile_ini.h"

namespace dbsetup {

std::string to_posix_path(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

bool read_whole_file(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  char buffer[8192];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
  bool ok = std::ferror(file) == 0;
  std::fclose(file);
  if (!ok) bytes.clear();
  return ok;
}

std::string PosixFiles::current_directory() {
  std::vector<char> buffer(256);
  while (true) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool PosixFiles::exists(const std::string& path) {
  struct stat st {};
  return ::stat(to_posix_path(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PosixFiles::remove(const std::string& path) {
  return ::unlink(to_posix_path(path).c_str()) == 0;
}

std::unique_ptr<FileSystem> make_system_files() { return std::make_unique<PosixFiles>(); }

std::unique_ptr<ProfileReader> make_system_profile_reader() {
  return std::make_unique<IniProfileReader>();
}

}  // namespace dbsetup
