#pragma once

#include <string>

namespace dbsetup {

// The local file system, as the detection and the install procedure need it.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // The process's current directory as the platform reports it (on Windows
  // through GetCurrentDirectoryA: a drive root keeps its trailing backslash).
  virtual std::string current_directory() = 0;
  virtual bool exists(const std::string& path) = 0;
  // True when the file was deleted.
  virtual bool remove(const std::string& path) = 0;
};

// Reads a value from a Windows profile (INI) file.
class ProfileReader {
 public:
  virtual ~ProfileReader() = default;
  // Returns `default_value` when the file, the section or the key is missing.
  virtual std::string read(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& default_value) = 0;
};

}  // namespace dbsetup
