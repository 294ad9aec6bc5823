// The checks of an install that come before anything changes on the server.
// A check that the server cannot answer (an older server, one without the
// procedure it needs, a login without the right to ask) is skipped: it never
// refuses on its own account.

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "install/install_run.h"
#include "platform/codepage.h"
#include "platform/text_case.h"
#include "platform/text_trim.h"

namespace dbsetup {

namespace {

constexpr const char* kLoadFailed = "装载数据失败!";
constexpr const char* kCreateFailed = "创建数据库失败!";
constexpr const char* kWarningTitle = "系统严重警告";
// SQL Server's names (sysname) hold at most 128 UTF-16 units.
constexpr std::size_t kMaxNameUnits = 128;
constexpr std::uint64_t kMegabyte = 1024 * 1024;
constexpr std::uint64_t kPageBytes = 8 * 1024;

bool has_control_character(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; });
}

// The database name becomes part of two file names in the data folder, so it
// must be one file name: not empty or blank, not "." or "..", and without a
// character that Windows refuses in a file name.
bool usable_as_file_name(const std::string& name) {
  if (name.find_first_not_of(" \t") == std::string::npos || name == "." || name == "..")
    return false;
  for (unsigned char c : name)
    if (c < 0x20 ||
        std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  return true;
}

// A folder the server can resolve without a current folder of its own: a
// drive letter with its separator, a UNC path (\\server\share), or a path
// from the root of a Linux server.
bool absolute_folder(std::string_view folder) {
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (folder.size() >= 3 && letter(folder[0]) && folder[1] == ':' &&
      (folder[2] == '\\' || folder[2] == '/'))
    return true;
  if (folder.size() >= 5 && folder.substr(0, 2) == "\\\\") {
    const std::size_t share = folder.find('\\', 2);
    return share != std::string_view::npos && share > 2 && share + 1 < folder.size();
  }
  return !folder.empty() && folder[0] == '/';
}

// The folder as the server's file procedures want it: without its trailing
// separators, except for a drive's or a Linux server's root.
std::string folder_for_server(std::string folder) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (folder.size() == 2 && folder[1] == ':') return folder + "\\";
  return folder.empty() ? "/" : folder;
}

// Paths as the server compares file names: letter case and surrounding
// blanks (SQL Server 2000 pads sysaltfiles' names) ignored, either slash.
std::string path_key(std::string_view path) {
  std::string key(trim(path, " "));
  std::replace(key.begin(), key.end(), '/', '\\');
  return key;
}
bool same_path(std::string_view a, std::string_view b) {
  return equal_ignoring_case(path_key(a), path_key(b));
}

// The drive letter a path lies on, upper case; 0 for UNC and Linux paths.
char drive_of(std::string_view path) {
  if (path.size() < 2 || path[1] != ':') return 0;
  const char c = ascii_upper(path[0]);
  return c >= 'A' && c <= 'Z' ? c : 0;
}

std::string megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + kMegabyte - 1) / kMegabyte);
}

// One column of the first row, by name; nothing when the answer lacks it.
std::optional<std::string> first_row_cell(const DbTable& table, std::string_view column) {
  const int at = table.column(column);
  if (at < 0 || table.rows.empty() || static_cast<std::size_t>(at) >= table.rows[0].size())
    return std::nullopt;
  return table.rows[0][static_cast<std::size_t>(at)];
}

// What xp_fileexist saw at a path.
struct PathSeen {
  bool known = false;
  bool file = false;
  bool folder = false;
};

PathSeen read_path_seen(const DbTable& table) {
  const auto exists = first_row_cell(table, "File Exists");
  const auto folder = first_row_cell(table, "File is a Directory");
  if (!exists || !folder) return {};
  return {true, *exists == "1", *folder == "1"};
}

}  // namespace

bool InstallRun::check_values() {
  if (!usable_as_file_name(ls_dbname_))
    return fail(-1, "数据库名称无效!", gs_.gs_appname,
                "数据库名称不能为空或空白，不能是“.”或“..”，"
                "也不能含有控制字符或 \\ / : * ? \" < > | 中的任何一个。",
                Field::database);
  if (utf8_to_utf16(ls_dbname_).size() > kMaxNameUnits)
    return fail(-1, "数据库名称无效!", gs_.gs_appname, "数据库名称不能超过 128 个字符。",
                Field::database);
  const std::string folder = page().data_folder;
  if (has_control_character(folder) || !absolute_folder(folder))
    return fail(-1, "数据文件目录无效!", gs_.gs_appname,
                "数据文件目录必须是服务器上的完整路径：以盘符开头（如 D:\\Data），"
                "或是网络路径（如 \\\\服务器\\共享），Linux 服务器上以 / 开头；"
                "不能含有换行等控制字符。",
                Field::data_folder);
  if (has_control_character(page().backup))
    return fail(-1, "备份文件路径无效!", gs_.gs_appname, "备份文件路径不能含有换行等控制字符。",
                Field::backup);
  return true;
}

bool InstallRun::confirm_name() {
  const std::string text = "是否确认本次安装的数据库名称为“" + ls_dbname_ + "”？\n\n" +
                           "系统提示：系统允许安装多个数据库，但需要和程序安装向导一致，"
                           "否则可能造成数据库连接错误！";
  return ui_.message_box(gs_.gs_appname, text, MsgIcon::Question, MsgButtons::YesNo, kYes) == kYes;
}

// The backup must be readable by the server, restorable there as a whole
// database, and hold the files the install will move. The SQL Server 7.0
// edition takes the logical file names from it.
bool InstallRun::check_backup() {
  const std::string backup = page().backup;
  const auto refuse = [&](const std::string& why) {
    return fail(-10, kLoadFailed, gs_.gs_appname, why, Field::backup);
  };
  DbTable header;
  ls_sql_ = sql::header_list(backup);
  rows(header);
  if (sqlca_.sqlcode != 0 && sqlca_.sqlcode != 100) return refuse(sqlca_.sqlerrtext);
  const std::string refusal = judge_header(header, parse_sql_version(sqlca_.server_version()));
  if (!refusal.empty()) return refuse(refusal);

  DbTable files;
  ls_sql_ = sql::file_list(backup);
  rows(files);
  if (sqlca_.sqlcode != 0 && sqlca_.sqlcode != 100) return refuse(sqlca_.sqlerrtext);

  DbTable collation;
  ls_sql_ = sql::kServerCollation;
  if (rows(collation) && !collation.rows[0].empty())
    case_sensitive_ = collation_is_case_sensitive(collation.rows[0][0]);

  const bool from_backup = ed_.logical_names_from_backup;
  backup_ = judge_files(files, from_backup ? nullptr : &gs_.gs_database_data,
                        from_backup ? nullptr : &gs_.gs_database_log, case_sensitive_);
  if (!backup_.refusal.empty()) return refuse(backup_.refusal);
  if (from_backup) {
    gs_.gs_database_data = backup_.data;
    gs_.gs_database_log = backup_.log;
  }
  return true;
}

// Creating the install login and granting it sysadmin take a sysadmin.
bool InstallRun::check_sysadmin() {
  DbTable answer;
  ls_sql_ = sql::kIsSysadmin;
  if (!rows(answer) || answer.rows[0].empty() || answer.rows[0][0] != "0") return true;
  return fail(-6, "创建新用户失败!", gs_.gs_appname,
              "登录名“" + sqlca_.logid +
                  "”不是固定服务器角色 sysadmin 的成员，不能创建本系统的登录名并授予其服务器角色。"
                  "请使用 sysadmin 角色的登录名（如 sa）安装。",
              Field::login);
}

void InstallRun::derive_paths() {
  std::string folder = page().data_folder;
  if (folder.empty() || folder.back() != '\\') {
    folder += '\\';
    page().data_folder = folder;
    ui_.form_changed();
  }
  folder_ = folder;
  ls_datafile_ = folder + ls_dbname_ + "_Data.MDF";
  ls_logfile_ = folder + ls_dbname_ + "_Log.LDF";
  more_moves_.clear();
  for (const BackupFile& f : backup_.more)
    more_moves_.push_back(
        {f.logical, folder + ls_dbname_ + "_" + f.logical + (f.type == 'L' ? ".LDF" : ".NDF")});
}

std::vector<std::string> InstallRun::target_paths() const {
  std::vector<std::string> paths = {ls_datafile_, ls_logfile_};
  for (const sql::Move& m : more_moves_) paths.push_back(m.path);
  return paths;
}

bool InstallRun::overwritten(const ServerFile& file) const {
  return !ls_tavoxdb_.empty() && equal_ignoring_case(file.database, ls_tavoxdb_);
}

// The data folder as the server's service account sees it. A missing one
// may be created: that destroys nothing.
bool InstallRun::check_folder() {
  const std::string folder = folder_for_server(folder_);
  DbTable answer;
  ls_sql_ = sql::file_exists(folder);
  rows(answer);
  const PathSeen seen = read_path_seen(answer);
  if (!seen.known || seen.folder) return true;
  if (seen.file)
    return fail(-8, kCreateFailed, gs_.gs_appname,
                "数据文件目录“" + folder + "”在服务器上是一个文件，不是目录。", Field::data_folder);
  if (!ask(gs_.gs_appname, "服务器上没有数据文件目录：\n" + folder + "\n\n是否由服务器创建该目录？",
           kYes))
    return cancel(-2, "取消数据库安装!");
  ls_sql_ = sql::create_folder(folder);
  execute();
  if (sqlca_.sqlcode != 0)
    return fail(-8, kCreateFailed, gs_.gs_appname,
                "不能在服务器上创建数据文件目录“" + folder + "”：\n" + sqlca_.sqlerrtext,
                Field::data_folder);
  return true;
}

bool InstallRun::read_server_files() {
  server_files_.clear();
  DbTable files;
  ls_sql_ = sql::kServerFiles;
  server_files_known_ = rows(files) && files.columns.size() >= 4;
  if (!server_files_known_) return false;
  for (const auto& row : files.rows) {
    if (row.size() < 4) continue;
    ServerFile f;
    f.database = row[0];
    f.path = std::string(trim(row[1], " "));
    f.bytes = std::strtoull(row[2].c_str(), nullptr, 10) * kPageBytes;
    f.log = (std::strtoul(row[3].c_str(), nullptr, 10) & 0x40) != 0;
    server_files_.push_back(std::move(f));
  }
  return true;
}

// No file of the new database may be one that another database uses, or
// one left on the server's disk by a database detached from it.
bool InstallRun::check_target_files() {
  read_server_files();
  const auto refuse = [&](const std::string& why) {
    return fail(-8, kCreateFailed, gs_.gs_appname, why, Field::data_folder);
  };
  std::vector<std::string> unheld;
  for (const std::string& path : target_paths()) {
    bool held = false;
    for (const ServerFile& f : server_files_) {
      if (!same_path(f.path, path)) continue;
      held = true;
      if (!overwritten(f))
        return refuse("文件“" + path + "”已被数据库“" + f.database +
                      "”使用。请选择其他数据文件目录或数据库名称。");
    }
    if (!held) unheld.push_back(path);
  }
  // The SQL Server 7.0 edition asks about such files on this machine itself.
  if (ed_.check_leftover_files) return true;
  for (const std::string& path : unheld) {
    DbTable answer;
    ls_sql_ = sql::file_exists(path);
    rows(answer);
    if (read_path_seen(answer).file)
      return refuse("服务器上已有文件“" + path +
                    "”，它不属于任何数据库（可能是已分离的数据库留下的）。"
                    "请先移走该文件，或选择其他数据文件目录。");
  }
  return true;
}

// The new files, and the copy of an old database, must fit on the server's
// drives. The old database's own files make room once it is dropped, which
// happens after the copy is written.
bool InstallRun::check_space() {
  std::map<char, std::uint64_t> incoming, freed, copy;
  incoming[drive_of(ls_datafile_)] += backup_.data_bytes;
  incoming[drive_of(ls_logfile_)] += backup_.log_bytes;
  for (std::size_t i = 0; i < more_moves_.size(); ++i)
    incoming[drive_of(more_moves_[i].path)] += backup_.more[i].bytes;
  for (const ServerFile& f : server_files_) {
    if (!overwritten(f)) continue;
    freed[drive_of(f.path)] += f.bytes;
    // A backup holds no more than the data files' pages.
    if (!f.log) copy[drive_of(folder_)] += f.bytes;
  }

  DbTable drives;
  ls_sql_ = sql::kFixedDrives;
  if (!rows(drives)) return true;
  const int letter_at = drives.column("drive");
  const int free_at = drives.column("MB free");
  if (letter_at < 0 || free_at < 0) return true;
  for (const auto& row : drives.rows) {
    if (static_cast<std::size_t>(std::max(letter_at, free_at)) >= row.size()) continue;
    const char drive = drive_of(row[static_cast<std::size_t>(letter_at)] + ":");
    if (!drive) continue;
    const std::uint64_t available =
        std::strtoull(row[static_cast<std::size_t>(free_at)].c_str(), nullptr, 10) * kMegabyte;
    const std::uint64_t in = incoming[drive];
    const std::uint64_t out = freed[drive];
    const std::uint64_t install = in > out ? in - out : 0;
    if (install > available)
      return fail(-10, kLoadFailed, gs_.gs_appname,
                  std::string("服务器驱动器 ") + drive + ": 的可用空间不足：安装需要约 " +
                      megabytes(install) + " MB，只有 " + megabytes(available) +
                      " MB 可用。请释放磁盘空间，或选择其他数据文件目录。",
                  Field::data_folder);
    const std::uint64_t with_copy = copy[drive] + install;
    if (copy[drive] > 0 && with_copy > available && copy_does_not_fit_.empty())
      copy_does_not_fit_ = std::string("旧数据库“") + ls_tavoxdb_ + "”的备份副本需要约 " +
                           megabytes(copy[drive]) + " MB，服务器驱动器 " + drive + ": 上只有 " +
                           megabytes(available) + " MB 可用空间，放不下该副本。";
  }
  return true;
}

// The SQL Server 7.0 edition's question about database files left in the
// data folder of this machine. Files that a database on the server holds are
// not left over: the old database's go with its drop, another's have been
// refused already.
bool InstallRun::confirm_leftover_files() {
  FileSystem* files = ctx_.platform.files;
  if (!files || !files->exists(ls_datafile_)) return true;
  for (const ServerFile& f : server_files_)
    if (same_path(f.path, ls_datafile_)) return true;
  const std::string text = "系统检测到在指定的目录下已有本数据库文件存在！\r\n\n" + ls_datafile_ +
                           "\n\n警告：如果有必要，请备份目录\r\n" + page().data_folder + "\r\n" +
                           "请确认是否继续安装，覆盖已存在的文件？\n\n"
                           "注意：此举可能造成系统原来数据物理丢失，不能恢复。"
                           "请在确认之前和系统管理员联系！";
  if (!ask(kWarningTitle, text, kNo)) return cancel(-2, "");
  delete_leftovers_ = true;
  return true;
}

bool InstallRun::confirm_without_copy() {
  if (copy_does_not_fit_.empty()) return true;
  if (!ask(kWarningTitle,
           copy_does_not_fit_ +
               "\n\n是否不备份旧数据库，直接覆盖？\n\n注意：不备份时，安装一旦失败，"
               "旧数据将无法恢复。",
           kNo))
    return cancel(-2, "取消数据库安装!");
  make_copy_ = false;
  return true;
}

}  // namespace dbsetup
