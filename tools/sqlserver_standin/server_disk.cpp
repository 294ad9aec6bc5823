// The server's disk: Windows paths mapped to local ones through the drives,
// files and folders created only under the files root (and recorded
// elsewhere), the answers of xp_fileexist and xp_create_subdir, and the
// backups BACKUP DATABASE wrote.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "server_state.h"

namespace fs = std::filesystem;

namespace standin {

namespace {

// Without trailing separators, but a root ("/", "C:/") keeps its own.
std::string trim_separators(std::string local) {
  while (local.size() > 1 && local.back() == '/' && !(local.size() == 3 && local[1] == ':'))
    local.pop_back();
  return local;
}

// The folder above, "" for a root.
std::string parent_of(const std::string& local) {
  std::string p = trim_separators(local);
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return p.size() == 2 && p[1] == ':' ? "" : std::string();
  if (slash == 0) return p == "/" ? "" : "/";
  if (slash == 2 && p[1] == ':') return p.size() > 3 ? p.substr(0, 3) : "";
  return p.substr(0, slash);
}

bool has_letter(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

}  // namespace

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

char ServerState::drive_letter(const std::string& windows_path) {
  if (has_letter(windows_path))
    return static_cast<char>(std::toupper(static_cast<unsigned char>(windows_path[0])));
  auto sep = [](char c) { return c == '\\' || c == '/'; };
  if (windows_path.size() >= 2 && sep(windows_path[0]) && sep(windows_path[1])) return 0;
  return 'C';
}

Drive* ServerState::drive(char letter) {
  for (auto& d : options_.drives)
    if (d.letter == letter) return &d;
  return nullptr;
}

bool ServerState::drive_missing(const std::string& windows_path) const {
  char letter = drive_letter(windows_path);
  if (letter == 0) return false;
  return std::none_of(options_.drives.begin(), options_.drives.end(),
                      [&](const Drive& d) { return d.letter == letter; });
}

std::string ServerState::local_path(const std::string& windows_path) const {
  std::string mapped = map_path(windows_path);
  if (!has_letter(windows_path)) return mapped;
  char letter = drive_letter(windows_path);
  for (const auto& d : options_.drives) {
    if (d.letter != letter || d.folder.empty()) continue;
    std::string rest = mapped.substr(2);
    if (!rest.empty() && rest.front() != '/') rest.insert(rest.begin(), '/');
    return d.folder + rest;
  }
  return mapped;
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
  std::string want = sql_lower(trim_separators(local_path(windows_path)));
  for (const auto& d : databases_)
    for (const auto& f : d.files)
      if (sql_lower(trim_separators(local_path(f.physical))) == want) return &d;
  return nullptr;
}

bool ServerState::file_exists(const std::string& windows_path) const {
  std::string local = local_path(windows_path);
  if (under_root(local)) {
    std::error_code ec;
    if (fs::exists(local, ec)) return true;
  }
  return database_with_file(windows_path) != nullptr || recorded_backup(windows_path).has_value();
}

void ServerState::create_file(const std::string& windows_path) const {
  std::string local = local_path(windows_path);
  if (!under_root(local)) return;
  std::ofstream(local, std::ios::binary | std::ios::trunc);
}

void ServerState::delete_file(const std::string& windows_path) const {
  std::string local = local_path(windows_path);
  if (!under_root(local)) return;
  std::error_code ec;
  fs::remove(local, ec);
}

bool ServerState::folder_exists(const std::string& windows_path) const {
  if (drive_missing(windows_path)) return false;
  std::string local = local_path(windows_path);
  if (!under_root(local)) return true;
  std::error_code ec;
  return fs::is_directory(fs::path(local).parent_path(), ec);
}

// Under the files root or the root itself: what the disk there says counts.
bool ServerState::on_disk(const std::string& local) const {
  if (under_root(local)) return true;
  if (options_.files_root.empty() || !fs::path(local).is_absolute()) return false;
  return fs::path(local).lexically_normal() == fs::path(options_.files_root).lexically_normal();
}

// A folder outside the root that the server knows of.
bool ServerState::recorded_folder(const std::string& lower_local) const {
  if (lower_local.empty()) return false;
  if (lower_local == "/" || (lower_local.size() <= 3 && lower_local[1] == ':')) return true;
  if (folders_.count(lower_local)) return true;
  auto holds = [&](const std::string& file) {
    std::string f = sql_lower(trim_separators(local_path(file)));
    return f.size() > lower_local.size() && f.compare(0, lower_local.size(), lower_local) == 0 &&
           f[lower_local.size()] == '/';
  };
  for (const auto& d : databases_)
    for (const auto& f : d.files)
      if (holds(f.physical)) return true;
  for (const auto& b : backups_)
    if (holds(b.path)) return true;
  return holds(options_.default_data_dir + "\\x");
}

PathState ServerState::path_state(const std::string& windows_path) const {
  PathState st;
  if (windows_path.empty() || drive_missing(windows_path)) return st;
  std::string local = trim_separators(local_path(windows_path));
  // A drive's root has no folder above it.
  const std::string mapped = trim_separators(map_path(windows_path));
  const bool drive_root = has_letter(mapped) && mapped.size() <= 3;
  std::error_code ec;
  if (on_disk(local)) {
    st.file = fs::is_regular_file(local, ec);
    st.directory = fs::is_directory(local, ec);
    std::string parent = parent_of(local);
    st.parent = !drive_root && !parent.empty() && fs::is_directory(parent, ec);
    return st;
  }
  std::string lower = sql_lower(local);
  st.file = database_with_file(windows_path) != nullptr || recorded_backup(windows_path);
  st.directory = !st.file && recorded_folder(lower);
  std::string parent = parent_of(local);
  st.parent = on_disk(parent) ? fs::is_directory(parent, ec) : recorded_folder(sql_lower(parent));
  return st;
}

std::optional<OsError> ServerState::create_folder(const std::string& windows_path) {
  const OsError not_found{3, "The system cannot find the path specified."};
  const OsError exists{183, "Cannot create a file when that file already exists."};
  if (windows_path.empty() || drive_missing(windows_path)) return not_found;
  std::string local = trim_separators(local_path(windows_path));
  PathState st = path_state(windows_path);
  if (st.file) return exists;
  if (st.directory) return std::nullopt;
  if (!on_disk(local)) {
    // Recorded, with the parents a real server would create too; a parent
    // that is a recorded file stops it.
    std::vector<std::string> chain;
    for (std::string p = local; !p.empty() && !recorded_folder(sql_lower(p)); p = parent_of(p))
      chain.push_back(p);
    for (const auto& p : chain)
      if (database_with_file(p) || recorded_backup(p)) return not_found;
    for (const auto& p : chain) folders_.insert(sql_lower(p));
    return std::nullopt;
  }
  // Under the root: each missing level in turn; a parent that is a file is
  // the path Windows cannot find.
  std::error_code ec;
  fs::create_directories(local, ec);
  if (!ec && fs::is_directory(local, ec)) return std::nullopt;
  if (ec == std::errc::permission_denied) return OsError{5, "Access is denied."};
  if (ec == std::errc::filename_too_long)
    return OsError{206, "The filename or extension is too long."};
  return not_found;
}

// ---- backups written ----

void ServerState::record_backup(const std::string& windows_path, const std::string& database,
                                int64_t bytes, const std::string& text) {
  std::string local = local_path(windows_path);
  std::string key = sql_lower(trim_separators(local));
  backups_.erase(std::remove_if(backups_.begin(), backups_.end(),
                                [&](const WrittenBackup& b) {
                                  return sql_lower(trim_separators(local_path(b.path))) == key;
                                }),
                 backups_.end());
  backups_.push_back({windows_path, database, bytes});
  if (!under_root(local)) backup_texts_[key] = text;
}

std::optional<std::string> ServerState::recorded_backup(const std::string& windows_path) const {
  auto it = backup_texts_.find(sql_lower(trim_separators(local_path(windows_path))));
  if (it == backup_texts_.end()) return std::nullopt;
  return it->second;
}

// After a restart: the free space, the backups and the folders the state
// file recorded; the drives themselves come from the options.
void ServerState::load_disk(const nlohmann::json& j) {
  for (const auto& d : j.value("drives", nlohmann::json::array())) {
    const std::string letter = d.value("letter", "");
    if (Drive* drive = letter.size() == 1 ? this->drive(letter[0]) : nullptr)
      drive->free_bytes = d.value("free_bytes", drive->free_bytes);
  }
  backups_.clear();
  backup_texts_.clear();
  for (const auto& b : j.value("backups", nlohmann::json::array()))
    record_backup(b.at("path"), b.value("database", ""), b.value("bytes", int64_t{0}),
                  b.value("text", ""));
  folders_.clear();
  for (const auto& f : j.value("folders", nlohmann::json::array())) folders_.insert(f);
}

}  // namespace standin
