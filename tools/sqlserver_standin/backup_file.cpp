// The stand-in's backup files: a header with the database and its files,
// then the data as a hundred numbered blocks, so that a file cut short still
// lists its files but cannot be read to its end.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "server_state.h"

namespace standin {

namespace {

constexpr int kBlocks = 100;

bool file_type(char t) { return t == 'D' || t == 'L' || t == 'F' || t == 'S'; }

}  // namespace

int64_t Backup::pages() const {
  int64_t n = 0;
  for (const auto& f : files) n += f.pages;
  return n;
}

std::string format_backup(const Backup& b, int percent) {
  std::ostringstream out;
  out << "STANDIN-BACKUP 1\n";
  out << "version " << b.major << "." << b.minor << "." << b.build << "\n";
  out << "started " << b.started << "\n";
  out << "type " << b.type << "\n";
  out << "database " << b.database << "\n";
  for (const auto& f : b.files)
    out << "file " << f.type << " " << f.pages << " " << f.logical << "\t" << f.physical << "\n";
  out << "data\n";
  int blocks = std::clamp(percent, 0, kBlocks);
  for (int k = 1; k <= blocks; ++k) out << "block " << k << "\n";
  if (percent >= kBlocks) out << "end\n";
  return out.str();
}

std::optional<Backup> parse_backup(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != "STANDIN-BACKUP 1") return std::nullopt;
  Backup b;
  bool has_name = false;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line.rfind("version ", 0) == 0) {
      if (!set_backup_version(b, line.substr(8))) return std::nullopt;
    } else if (line.rfind("started ", 0) == 0) {
      b.started = line.substr(8);
    } else if (line.rfind("type ", 0) == 0) {
      std::string t = line.substr(5);
      if (t != "1" && t != "2" && t != "5") return std::nullopt;
      b.type = t[0] - '0';
    } else if (line.rfind("database ", 0) == 0) {
      b.database = line.substr(9);
      has_name = true;
    } else if (line.rfind("file ", 0) == 0 && line.size() > 7) {
      BackupFile f;
      f.type = line[5];
      if (!file_type(f.type)) return std::nullopt;
      size_t sp = line.find(' ', 7);
      if (sp == std::string::npos) return std::nullopt;
      try {
        f.pages = std::stoll(line.substr(7, sp - 7));
      } catch (...) {
        return std::nullopt;
      }
      std::string rest = line.substr(sp + 1);
      size_t tab = rest.find('\t');
      if (tab == std::string::npos || f.pages < 0) return std::nullopt;
      f.logical = rest.substr(0, tab);
      f.physical = rest.substr(tab + 1);
      b.files.push_back(f);
    } else if (line == "data") {
      // The data: whole blocks in order; a line cut short or missing ends it.
      int blocks = 0;
      bool ended = false;
      while (std::getline(in, line)) {
        bool whole = !in.eof();
        if (whole && line == "end" && blocks == kBlocks) {
          ended = true;
          break;
        }
        if (!whole || line != "block " + std::to_string(blocks + 1)) break;
        ++blocks;
      }
      b.readable_percent = blocks;
      b.complete = ended;
      break;
    } else {
      return std::nullopt;
    }
  }
  if (!has_name || b.files.empty()) return std::nullopt;
  return b;
}

Backup make_backup(const std::string& name, const std::string& dataname,
                   const std::string& logname) {
  Backup b;
  b.database = name;
  std::string dir = "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data\\";
  b.files.push_back({dataname, dir + name + "_Data.MDF", 'D', 328});
  b.files.push_back({logname, dir + name + "_Log.LDF", 'L', 2});
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  b.started = buf;
  return b;
}

bool set_backup_version(Backup& b, const std::string& version) {
  static const std::regex form(R"(^(\d{1,3})\.(\d{1,3})(?:\.(\d{1,5}))?$)");
  std::smatch m;
  if (!std::regex_match(version, m, form)) return false;
  int parts[3] = {std::stoi(m[1]), std::stoi(m[2]), m[3].matched ? std::stoi(m[3]) : -1};
  b.major = parts[0];
  b.minor = parts[1];
  // Without a build: the release build of that version.
  const std::map<int, int> release = {{8, 194},   {9, 1399},  {10, 1600}, {11, 2100}, {12, 2000},
                                      {13, 1601}, {14, 1000}, {15, 2000}, {16, 1000}};
  auto it = release.find(b.major);
  b.build = parts[2] >= 0 ? parts[2] : it == release.end() ? 0 : it->second;
  return true;
}

bool write_backup_file(const std::string& local_path, const Backup& b, int percent) {
  std::ofstream out(local_path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << format_backup(b, percent);
  return static_cast<bool>(out);
}

}  // namespace standin
