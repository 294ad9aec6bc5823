#pragma once

// What the stand-in server knows: logins with their roles, databases with
// their files, configuration options, who is logged on; the server's disk
// (Windows paths mapped to local ones) and the backup file format.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace standin {

struct DbFile {
  std::string logical;
  std::string physical;  // as the statement gave it (a Windows path)
  char type = 'D';       // 'D' data, 'L' log, 'F' full-text catalog, 'S' FILESTREAM
  int64_t pages = 128;   // the file's size in 8 KB pages
  int64_t bytes() const { return pages * 8192; }
};

struct Database {
  std::string name;
  std::string owner;
  std::vector<DbFile> files;
  std::string status = "ONLINE";  // ONLINE, RESTORING
  // Restored WITH NORECOVERY from a full backup: a differential or log backup may follow.
  bool rollforward_ready = false;
};

struct Login {
  std::string name;
  std::string password;
  std::set<std::string> roles;  // lower case: sysadmin, securityadmin, serveradmin, dbcreator...
  std::string default_database = "master";
  bool windows = false;   // a Windows login: it logs on with its Windows account
  bool disabled = false;  // ALTER LOGIN ... DISABLE
};

// A Windows account of the domain the server trusts, "DOMAIN\user"; it logs
// on where a Windows login of its name exists.
struct WindowsAccount {
  std::string name;
  std::string password;
};

// A registry value written through the server (xp_instance_regwrite).
struct RegistryValue {
  std::string path;  // root key, key and value name, as written
  std::string type;  // REG_DWORD, REG_SZ, ...
  std::string value;
};

struct ConfigOption {
  std::string name;
  int64_t minimum = 0, maximum = 1;
  int64_t value = 0;    // config_value: set by sp_configure
  int64_t running = 0;  // run_value: set by RECONFIGURE
};

// The server's fixed server roles.
const std::vector<std::string>& fixed_server_roles();

// SQL Server's LOWER for the characters that have case in the common scripts.
std::string sql_lower(const std::string& utf8);
// SQL Server's UPPER, likewise.
std::string sql_upper(const std::string& utf8);

// What kind of SQL Server the stand-in is: its version as clients see it and
// the behaviours that came with that version.
struct Profile {
  std::string name = "2000";  // 2000, 2022, 2022-linux
  int major = 8;              // the version whose behaviours apply
  int build = 2039;           // ... and its build (messages name it: 8.00.2039)
  // The identity clients read (LOGINACK, @@VERSION, SERVERPROPERTY).
  int id_major = 8, id_minor = 0, id_build = 2039, id_revision = 0;
  std::string version_text;  // @@VERSION
  bool linux_host = false;
  int model_size_mb = 0;  // the model database's size: CREATE DATABASE's minimum

  std::string product_version() const;  // "16.0.1000.6"
  uint32_t loginack_version() const;    // major, minor, build (two bytes), big-endian order
  // CREATE LOGIN, and sp_addlogin through it, check passwords (2005 and later).
  bool checks_password_policy() const { return major >= 9; }
};

// The profile of that name, if there is one.
std::optional<Profile> profile_named(const std::string& name);

// A drive letter of the server's machine: its free space, and the local
// folder its root stands for (none: its paths are only recorded).
struct Drive {
  char letter = 'C';
  int64_t free_bytes = 0;
  std::string folder;
};

struct StateOptions {
  Profile profile;
  std::string files_root;  // local folder; empty: no files are ever created
  std::string default_data_dir = "C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data";
  bool case_sensitive = false;
  std::string collation;   // empty: the default (Chinese_PRC_CI_AS, _CS_ when case-sensitive)
  int model_size_mb = 0;   // 0: the profile's model size
  std::string state_file;  // empty: none written
  bool domain_password_policy = false;  // Windows: a domain's policy applies to passwords
  bool windows_auth_only = false;       // SQL Server logins cannot log on
  bool backups_unreadable = false;      // the service account cannot read any backup
  std::vector<Drive> drives;            // C: is added when not given
};

// The file at a path as the server's service account sees it (xp_fileexist).
struct PathState {
  bool file = false, directory = false, parent = false;
};

// A Windows error as SQL Server quotes it: "3(The system cannot find the path specified.)".
struct OsError {
  int code = 0;
  std::string text;
  std::string quoted() const { return std::to_string(code) + "(" + text + ")"; }
};

class ServerState {
 public:
  explicit ServerState(StateOptions options);

  std::mutex mutex;  // held by whoever reads or changes the state

  // ---- names (the server's collation: case-insensitive unless configured,
  //      trailing blanks ignored) ----
  bool names_equal(const std::string& a, const std::string& b) const;
  bool case_sensitive() const { return options_.case_sensitive; }
  std::string collation() const;  // SERVERPROPERTY('Collation')

  Login* find_login(const std::string& name);
  Database* find_database(const std::string& name);
  ConfigOption* find_option(const std::string& name);                // exact or unique prefix
  bool has_role(const std::string& login, const std::string& role);  // sysadmin implies all

  Login& add_login(const std::string& name, const std::string& password,
                   std::set<std::string> roles = {});
  void remove_login(const std::string& name);
  Database& add_database(Database db);
  void remove_database(const std::string& name);

  std::vector<Login>& logins() { return logins_; }
  std::vector<Database>& databases() { return databases_; }
  std::vector<ConfigOption>& options() { return config_; }

  // A database's default files in the default data folder.
  std::vector<DbFile> default_files(const std::string& dbname) const;
  const StateOptions& settings() const { return options_; }

  // ---- in use and logged on ----
  std::set<std::string> marked_in_use;
  bool in_use(const std::string& dbname) const;
  std::set<std::string> being_restored;  // restores in progress hold their database
  int open_session(const std::string& login, const std::string& database);
  void set_session_database(int session, const std::string& database);
  void close_session(int session);
  bool logged_on(const std::string& login) const;

  // ---- disk ----
  // Backslashes become slashes and repeated separators collapse.
  static std::string map_path(const std::string& windows_path);
  // The drive a path lies on: its letter; rooted and relative paths lie on C:,
  // UNC paths (\\server\share) on none (0).
  static char drive_letter(const std::string& windows_path);
  Drive* drive(char letter);
  const std::vector<Drive>& drives() const { return options_.drives; }
  // A path on a drive letter this machine does not have.
  bool drive_missing(const std::string& windows_path) const;
  // The local path: a drive with a folder maps its root there; otherwise map_path.
  std::string local_path(const std::string& windows_path) const;
  bool under_root(const std::string& local_path) const;
  // Whether a file exists at that path on the server: on the real disk, or
  // recorded as a database file or a backup written there.
  bool file_exists(const std::string& windows_path) const;
  // Creates the (empty) file when the path lies under the files root.
  void create_file(const std::string& windows_path) const;
  void delete_file(const std::string& windows_path) const;
  // Whether the folder that would hold the file exists: under the root on the
  // disk, elsewhere always, unless the drive is missing.
  bool folder_exists(const std::string& windows_path) const;
  // The database that records this file, if any.
  const Database* database_with_file(const std::string& windows_path) const;
  // File, folder and parent folder: under the root from the disk; elsewhere
  // from what is recorded (database files, backups written, folders created,
  // the default data folder and the drives' roots).
  PathState path_state(const std::string& windows_path) const;
  // Creates the folder and its missing parents (recorded only outside the root).
  std::optional<OsError> create_folder(const std::string& windows_path);

  // ---- backups the server wrote (BACKUP DATABASE) ----
  struct WrittenBackup {
    std::string path;  // as the statement gave it
    std::string database;
    int64_t bytes = 0;
  };
  void record_backup(const std::string& windows_path, const std::string& database, int64_t bytes,
                     const std::string& text);
  const std::vector<WrittenBackup>& written_backups() const { return backups_; }
  // The text of a backup written outside the root, if one was.
  std::optional<std::string> recorded_backup(const std::string& windows_path) const;

  // ---- persistence ----
  nlohmann::json to_json() const;
  void save() const;  // rewrites the state file, when one is configured

  // ---- Windows accounts, the registry and the authentication mode
  //      (server_state_windows.cpp) ----
  WindowsAccount* find_windows_account(const std::string& name);
  void add_windows_account(const std::string& name, const std::string& password);
  // Records a value, replacing one of the same path (any letter case).
  void write_registry(const RegistryValue& v);
  // The authentication mode the registry's LoginMode gives the next start:
  // 1 Windows Authentication, 2 SQL Server and Windows Authentication.
  int login_mode_at_next_start() const;
  // Starts from a state that to_json() wrote: logins, Windows accounts,
  // databases, configuration and the registry; the authentication mode is the
  // one the registry gives a new start. Throws on a malformed state.
  void load(const nlohmann::json& j);

 private:
  StateOptions options_;
  std::vector<Login> logins_;
  std::vector<Database> databases_;
  std::vector<ConfigOption> config_;
  std::map<int, std::pair<std::string, std::string>> sessions_;  // id -> login, database
  int next_session_ = 51;
  std::set<std::string> folders_;  // created outside the root: lower-case local paths
  std::vector<WrittenBackup> backups_;
  std::map<std::string, std::string>
      backup_texts_;  // outside the root: lower-case local path -> text
  bool recorded_folder(const std::string& lower_local) const;
  bool on_disk(const std::string& local) const;
  void load_disk(const nlohmann::json& j);  // server_disk.cpp, for load()
  void windows_to_json(nlohmann::json& j) const;
  std::vector<WindowsAccount> windows_accounts_;
  std::map<std::string, RegistryValue> registry_;  // lower-case path -> value
};

// ---- backup files ----

struct BackupFile {
  std::string logical;
  std::string physical;
  char type = 'D';  // D, L, F (full-text catalog), S (FILESTREAM)
  int64_t pages = 0;
};

struct Backup {
  std::string database;
  // The version of the server that wrote it; files without one came from SQL Server 2000.
  int major = 8, minor = 0, build = 2039;
  std::string started = "2004-06-01 12:00:00";  // BackupStartDate
  int type = 1;  // HEADERONLY's BackupType: 1 database, 2 transaction log, 5 differential
  std::vector<BackupFile> files;
  // How much of the data can be read (a file cut short reads up to there) and
  // whether its end is there.
  int readable_percent = 100;
  bool complete = true;
  int64_t pages() const;
  int64_t bytes() const { return (pages() + 2) * 8192; }  // the files' pages and the headers
};

// A small text format:
//   STANDIN-BACKUP 1
//   version <major>.<minor>.<build>      (optional: 8.0.2039)
//   started <YYYY-MM-DD HH:MM:SS>         (optional)
//   type <1|2|5>                          (optional: 1)
//   database <name>
//   file <D|L|F|S> <pages> <logical>\t<physical>
//   data                                  (optional: then the data, 100 lines
//   block <n>                              "block 1" ... "block 100", then "end";
//   end                                    without it the file reads as whole)
// `percent`: write only that much of the data and no end (a backup cut short).
std::string format_backup(const Backup& b, int percent = 100);
std::optional<Backup> parse_backup(const std::string& text);
// The backup of a database `name` with a data file and a log file.
Backup make_backup(const std::string& name, const std::string& dataname,
                   const std::string& logname);
// "8.0", "15.0.2000": sets the backup's version; false when it is not one.
bool set_backup_version(Backup& b, const std::string& version);
bool write_backup_file(const std::string& local_path, const Backup& b, int percent = 100);

}  // namespace standin
