#include "server_state.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "tds.h"

namespace fs = std::filesystem;

namespace standin {

const std::vector<std::string>& fixed_server_roles() {
  static const std::vector<std::string> roles = {"sysadmin",   "securityadmin", "serveradmin",
                                                 "setupadmin", "processadmin",  "diskadmin",
                                                 "dbcreator",  "bulkadmin"};
  return roles;
}

std::string Profile::product_version() const {
  // SQL Server 2000 writes its version as 8.00.2039; later ones as 16.0.1000.6.
  if (id_major < 9) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d.%d", id_major, id_minor, id_build);
    return text;
  }
  return std::to_string(id_major) + "." + std::to_string(id_minor) + "." +
         std::to_string(id_build) + "." + std::to_string(id_revision);
}

uint32_t Profile::loginack_version() const {
  return static_cast<uint32_t>(id_major) << 24 | static_cast<uint32_t>(id_minor) << 16 |
         static_cast<uint32_t>(id_build & 0xFFFF);
}

std::optional<Profile> profile_named(const std::string& name) {
  Profile p;
  p.name = name;
  if (name == "2000") {
    // SQL Server 2000 SP4, as its @@VERSION reads.
    p.version_text =
        "Microsoft SQL Server  2000 - 8.00.2039 (Intel X86) \n\tMay  3 2005 23:18:38 "
        "\n\tCopyright (c) 1988-2003 Microsoft Corporation\n\tStandard Edition on Windows NT "
        "5.2 (Build 3790: Service Pack 2)\n";
    return p;
  }
  if (name != "2022" && name != "2022-linux") return std::nullopt;
  p.major = 16;
  p.build = 1000;
  p.id_major = 16;
  p.id_minor = 0;
  p.id_build = 1000;
  p.id_revision = 6;
  p.model_size_mb = 8;
  p.linux_host = name == "2022-linux";
  p.version_text =
      "Microsoft SQL Server 2022 (RTM) - 16.0.1000.6 (X64) \n\tOct  8 2022 05:58:25 "
      "\n\tCopyright (C) 2022 Microsoft Corporation\n\tDeveloper Edition (64-bit) on ";
  p.version_text += p.linux_host ? "Linux (Ubuntu 22.04.1 LTS) <X64>"
                                 : "Windows Server 2022 Datacenter 10.0 <X64> (Build 20348: ) "
                                   "(Hypervisor)\n";
  return p;
}

namespace {

char16_t lower16(char16_t c) {
  if (c >= u'A' && c <= u'Z') return c + 32;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
      (c >= 0x410 && c <= 0x42F))
    return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c;
}

char16_t upper16(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - 32;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
      (c >= 0x430 && c <= 0x44F))
    return c - 0x20;
  if (c >= 0x450 && c <= 0x45F) return c - 0x50;
  return c;
}

std::string rtrim_blanks(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

std::string lower_path(const std::string& p) {
  std::string s = ServerState::map_path(p);
  return sql_lower(s);
}

}  // namespace

std::string sql_lower(const std::string& utf8) {
  auto w = utf8_to_utf16(utf8);
  for (auto& c : w) c = lower16(c);
  return utf16_to_utf8(w);
}

std::string sql_upper(const std::string& utf8) {
  auto w = utf8_to_utf16(utf8);
  for (auto& c : w) c = upper16(c);
  return utf16_to_utf8(w);
}

ServerState::ServerState(StateOptions options) : options_(std::move(options)) {
  struct Seed {
    const char* name;
    const char* data_logical;
    const char* data_file;
    const char* log_logical;
    const char* log_file;
  };
  const Seed seeds[] = {{"master", "master", "master.mdf", "mastlog", "mastlog.ldf"},
                        {"tempdb", "tempdev", "tempdb.mdf", "templog", "templog.ldf"},
                        {"model", "modeldev", "model.mdf", "modellog", "modellog.ldf"},
                        {"msdb", "MSDBData", "MSDBData.mdf", "MSDBLog", "MSDBLog.ldf"}};
  for (const auto& s : seeds) {
    Database db;
    db.name = s.name;
    db.owner = "sa";
    std::string dir = options_.default_data_dir + "\\";
    db.files = {{s.data_logical, dir + s.data_file, 'D', 4},
                {s.log_logical, dir + s.log_file, 'L', 1}};
    databases_.push_back(db);
  }
  config_.push_back({"allow updates", 0, 1, 0, 0});
  config_.push_back({"show advanced options", 0, 1, 0, 0});
}

bool ServerState::names_equal(const std::string& a, const std::string& b) const {
  std::string x = rtrim_blanks(a), y = rtrim_blanks(b);
  if (options_.case_sensitive) return x == y;
  return sql_lower(x) == sql_lower(y);
}

Login* ServerState::find_login(const std::string& name) {
  for (auto& l : logins_)
    if (names_equal(l.name, name)) return &l;
  return nullptr;
}

Database* ServerState::find_database(const std::string& name) {
  for (auto& d : databases_)
    if (names_equal(d.name, name)) return &d;
  return nullptr;
}

ConfigOption* ServerState::find_option(const std::string& name) {
  std::string want = sql_lower(name);
  ConfigOption* found = nullptr;
  int matches = 0;
  for (auto& o : config_) {
    if (o.name == want) return &o;
    if (o.name.find(want) != std::string::npos) {
      found = &o;
      ++matches;
    }
  }
  return matches == 1 ? found : nullptr;
}

bool ServerState::has_role(const std::string& login, const std::string& role) {
  Login* l = find_login(login);
  if (!l) return false;
  return l->roles.count("sysadmin") > 0 || l->roles.count(role) > 0;
}

Login& ServerState::add_login(const std::string& name, const std::string& password,
                              std::set<std::string> roles) {
  Login l;
  l.name = name;
  l.password = password;
  l.roles = std::move(roles);
  logins_.push_back(std::move(l));
  return logins_.back();
}

void ServerState::remove_login(const std::string& name) {
  logins_.erase(std::remove_if(logins_.begin(), logins_.end(),
                               [&](const Login& l) { return names_equal(l.name, name); }),
                logins_.end());
}

Database& ServerState::add_database(Database db) {
  databases_.push_back(std::move(db));
  return databases_.back();
}

void ServerState::remove_database(const std::string& name) {
  databases_.erase(std::remove_if(databases_.begin(), databases_.end(),
                                  [&](const Database& d) { return names_equal(d.name, name); }),
                   databases_.end());
}

std::vector<DbFile> ServerState::default_files(const std::string& dbname) const {
  std::string dir = options_.default_data_dir;
  if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += "\\";
  return {{dbname, dir + dbname + ".mdf", 'D', 1},
          {dbname + "_log", dir + dbname + "_log.ldf", 'L', 1}};
}

bool ServerState::in_use(const std::string& dbname) const {
  for (const auto& n : marked_in_use)
    if (names_equal(n, dbname)) return true;
  for (const auto& n : being_restored)
    if (names_equal(n, dbname)) return true;
  for (const auto& [id, s] : sessions_)
    if (names_equal(s.second, dbname)) return true;
  return false;
}

int ServerState::open_session(const std::string& login, const std::string& database) {
  int id = next_session_++;
  sessions_[id] = {login, database};
  return id;
}

void ServerState::set_session_database(int session, const std::string& database) {
  auto it = sessions_.find(session);
  if (it != sessions_.end()) it->second.second = database;
}

void ServerState::close_session(int session) { sessions_.erase(session); }

bool ServerState::logged_on(const std::string& login) const {
  for (const auto& [id, s] : sessions_)
    if (names_equal(s.first, login)) return true;
  return false;
}

// ---- disk ----

std::string ServerState::map_path(const std::string& windows_path) {
  std::string out;
  out.reserve(windows_path.size());
  for (char c : windows_path) {
    char d = c == '\\' ? '/' : c;
    if (d == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(d);
  }
  return out;
}

bool ServerState::under_root(const std::string& local_path) const {
  if (options_.files_root.empty()) return false;
  fs::path p(local_path);
  if (!p.is_absolute()) return false;
  auto norm = p.lexically_normal();
  auto root = fs::path(options_.files_root).lexically_normal();
  auto rel = norm.lexically_relative(root);
  if (rel.empty()) return false;
  auto first = *rel.begin();
  return first != ".." && first != ".";
}

const Database* ServerState::database_with_file(const std::string& windows_path) const {
  std::string want = lower_path(windows_path);
  for (const auto& d : databases_)
    for (const auto& f : d.files)
      if (lower_path(f.physical) == want) return &d;
  return nullptr;
}

bool ServerState::file_exists(const std::string& windows_path) const {
  std::string local = map_path(windows_path);
  if (under_root(local)) {
    std::error_code ec;
    if (fs::exists(local, ec)) return true;
  }
  return database_with_file(windows_path) != nullptr;
}

void ServerState::create_file(const std::string& windows_path) const {
  std::string local = map_path(windows_path);
  if (!under_root(local)) return;
  std::ofstream(local, std::ios::binary | std::ios::trunc);
}

void ServerState::delete_file(const std::string& windows_path) const {
  std::string local = map_path(windows_path);
  if (!under_root(local)) return;
  std::error_code ec;
  fs::remove(local, ec);
}

bool ServerState::folder_exists(const std::string& windows_path) const {
  std::string local = map_path(windows_path);
  if (!under_root(local)) return true;
  std::error_code ec;
  return fs::is_directory(fs::path(local).parent_path(), ec);
}

// ---- persistence ----

nlohmann::json ServerState::to_json() const {
  nlohmann::json j;
  j["logins"] = nlohmann::json::array();
  for (const auto& l : logins_) {
    j["logins"].push_back({{"name", l.name},
                           {"password", l.password},
                           {"roles", std::vector<std::string>(l.roles.begin(), l.roles.end())},
                           {"default_database", l.default_database},
                           {"windows", l.windows},
                           {"disabled", l.disabled}});
  }
  j["databases"] = nlohmann::json::array();
  for (const auto& d : databases_) {
    nlohmann::json files = nlohmann::json::array();
    for (const auto& f : d.files) {
      std::string local = map_path(f.physical);
      files.push_back({{"logical", f.logical},
                       {"physical", f.physical},
                       {"local", local},
                       {"on_disk", under_root(local)},
                       {"type", std::string(1, f.type)},
                       {"size_mb", f.size_mb}});
    }
    j["databases"].push_back({{"name", d.name},
                              {"owner", d.owner},
                              {"status", d.status},
                              {"in_use", in_use(d.name)},
                              {"files", files}});
  }
  j["configuration"] = nlohmann::json::object();
  for (const auto& o : config_)
    j["configuration"][o.name] = {{"value", o.running}, {"pending", o.value}};
  windows_to_json(j);
  return j;
}

void ServerState::save() const {
  if (options_.state_file.empty()) return;
  std::string tmp = options_.state_file + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << to_json().dump(2) << "\n";
  }
  std::error_code ec;
  fs::rename(tmp, options_.state_file, ec);
}

// ---- backups ----

std::string format_backup(const Backup& b) {
  std::ostringstream out;
  out << "STANDIN-BACKUP 1\n";
  out << "version " << b.major << "." << b.minor << "." << b.build << "\n";
  out << "started " << b.started << "\n";
  out << "database " << b.database << "\n";
  for (const auto& f : b.files)
    out << "file " << f.type << " " << f.pages << " " << f.logical << "\t" << f.physical << "\n";
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
    } else if (line.rfind("database ", 0) == 0) {
      b.database = line.substr(9);
      has_name = true;
    } else if (line.rfind("file ", 0) == 0 && line.size() > 7) {
      BackupFile f;
      f.type = line[5];
      if (f.type != 'D' && f.type != 'L') return std::nullopt;
      size_t sp = line.find(' ', 7);
      if (sp == std::string::npos) return std::nullopt;
      try {
        f.pages = std::stoll(line.substr(7, sp - 7));
      } catch (...) {
        return std::nullopt;
      }
      std::string rest = line.substr(sp + 1);
      size_t tab = rest.find('\t');
      if (tab == std::string::npos) return std::nullopt;
      f.logical = rest.substr(0, tab);
      f.physical = rest.substr(tab + 1);
      b.files.push_back(f);
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

bool write_backup_file(const std::string& local_path, const Backup& b) {
  std::ofstream out(local_path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << format_backup(b);
  return static_cast<bool>(out);
}

}  // namespace standin
