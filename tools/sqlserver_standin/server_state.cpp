#include "server_state.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

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
    db.files = {{s.data_logical, dir + s.data_file, 'D', 512},
                {s.log_logical, dir + s.log_file, 'L', 128}};
    databases_.push_back(db);
  }
  // The system drive is always there; its free space is a fair figure for a
  // shop's server.
  bool has_c = std::any_of(options_.drives.begin(), options_.drives.end(),
                           [](const Drive& d) { return d.letter == 'C'; });
  if (!has_c) options_.drives.insert(options_.drives.begin(), Drive{'C', 102400LL << 20, ""});
  for (const auto& d : options_.drives) {
    std::error_code ec;
    if (!d.folder.empty() && under_root(d.folder + "/x")) fs::create_directories(d.folder, ec);
  }
  config_.push_back({"allow updates", 0, 1, 0, 0});
  config_.push_back({"show advanced options", 0, 1, 0, 0});
}

bool ServerState::names_equal(const std::string& a, const std::string& b) const {
  std::string x = rtrim_blanks(a), y = rtrim_blanks(b);
  if (options_.case_sensitive) return x == y;
  return sql_lower(x) == sql_lower(y);
}

std::string ServerState::collation() const {
  if (!options_.collation.empty()) return options_.collation;
  return options_.case_sensitive ? "Chinese_PRC_CS_AS" : "Chinese_PRC_CI_AS";
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
  return {{dbname, dir + dbname + ".mdf", 'D', 128},
          {dbname + "_log", dir + dbname + "_log.ldf", 'L', 128}};
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
      std::string local = local_path(f.physical);
      files.push_back({{"logical", f.logical},
                       {"physical", f.physical},
                       {"local", local},
                       {"on_disk", under_root(local)},
                       {"type", std::string(1, f.type)},
                       {"pages", f.pages},
                       {"size_mb", static_cast<double>(f.pages) / 128}});
    }
    j["databases"].push_back({{"name", d.name},
                              {"owner", d.owner},
                              {"status", d.status},
                              {"in_use", in_use(d.name)},
                              {"rollforward_ready", d.rollforward_ready},
                              {"files", files}});
  }
  j["drives"] = nlohmann::json::array();
  for (const auto& d : options_.drives)
    j["drives"].push_back({{"letter", std::string(1, d.letter)},
                           {"free_mb", d.free_bytes >> 20},
                           {"free_bytes", d.free_bytes},
                           {"folder", d.folder}});
  j["backups"] = nlohmann::json::array();
  for (const auto& b : backups_) {
    std::string local = local_path(b.path);
    nlohmann::json entry = {{"path", b.path},
                            {"local", local},
                            {"on_disk", under_root(local)},
                            {"database", b.database},
                            {"bytes", b.bytes}};
    // A backup only recorded keeps its text, for a restart.
    if (auto text = recorded_backup(b.path)) entry["text"] = *text;
    j["backups"].push_back(entry);
  }
  j["folders"] = std::vector<std::string>(folders_.begin(), folders_.end());
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

}  // namespace standin
