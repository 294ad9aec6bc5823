#pragma once

#include <string>
#include <string_view>
#include <vector>

// Every statement text the install procedure sends to the server. Values are
// spliced into fixed texts; a value inside a string literal has each ' doubled
// and a name inside brackets has each ] doubled, so that any value reaches the
// server as the one value it is. For values without those characters the
// texts are exactly the fixed texts with the values in place.
namespace dbsetup::sql {

// `value` with every ' doubled, for use between ' and '.
std::string literal(std::string_view value);
// `name` with every ] doubled, for use between [ and ].
std::string bracketed(std::string_view name);
// A procedure argument given as a name: bare when it is a plain identifier
// (ASCII letter or _ first, then letters, digits or _, not a reserved word),
// otherwise bracketed.
std::string name_argument(std::string_view name);

// Finds a database by name whatever the letter case: the server folds both
// sides with its own rules; `?` takes the name as typed.
inline constexpr const char* kExistenceQuery =
    "SELECT name FROM sysdatabases WHERE LOWER ( name ) = LOWER ( ? )";

std::string drop_database(std::string_view dbname);

std::string drop_login(std::string_view login);
std::string add_login(std::string_view login, std::string_view password);
// The login created without the server's password policy, for servers whose
// policy refuses the password sp_addlogin was given.
std::string create_login_without_policy(std::string_view login, std::string_view password);
std::string add_server_role(std::string_view login, std::string_view role);

// `with_size` false leaves out both "SIZE = 1, " clauses, for servers whose
// model database is larger than one megabyte.
std::string create_database(std::string_view dbname, std::string_view dataname,
                            std::string_view datafile, std::string_view logname,
                            std::string_view logfile, bool with_size = true);
std::string default_database(std::string_view login, std::string_view dbname);

// The WITH clauses of the two editions' restore statements; they differ only
// in the blanks between REPLACE and the comma.
inline constexpr const char* kRestoreOptions2000 =
    "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'";
inline constexpr const char* kRestoreOptions7 =
    "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE , MOVE N'";

// A further file of the backup and where the restore puts it.
struct Move {
  std::string logical;
  std::string path;
};

// `more` lists the backup's files beyond the two named ones; each gets a MOVE
// clause of its own after theirs.
std::string restore_database(std::string_view dbname, std::string_view backup_file,
                             const char* options, std::string_view dataname,
                             std::string_view datafile, std::string_view logname,
                             std::string_view logfile, const std::vector<Move>& more = {});
// Lists the backup sets of a backup file: one row each, with the columns
// SoftwareVersionMajor and SoftwareVersionMinor among many.
std::string header_list(std::string_view backup_file);
// Lists the files of a backup's first set: LogicalName, PhysicalName, Type, ...
std::string file_list(std::string_view backup_file);

// Reads the whole backup without restoring it. STATS is understood from SQL
// Server 2005 on.
std::string verify_backup(std::string_view backup_file, bool with_stats);
// The copy of a database that is about to be overwritten.
std::string backup_database(std::string_view dbname, std::string_view copy_file);

// What the server's service account sees at a path: one row with the
// columns "File Exists", "File is a Directory" and "Parent Directory Exists".
std::string file_exists(std::string_view path);
// Creates a folder and its missing parents on the server's machine.
std::string create_folder(std::string_view folder);
// Every file of every database: its database, path, size in 8 KB pages and
// status (0x40: a log file).
inline constexpr const char* kServerFiles =
    "SELECT DB_NAME(dbid), filename, size, status FROM master.dbo.sysaltfiles";
// The server's fixed drives: letter and free megabytes ("drive", "MB free").
inline constexpr const char* kFixedDrives = "EXEC master.dbo.xp_fixeddrives";
inline constexpr const char* kIsSysadmin = "SELECT IS_SRVROLEMEMBER('sysadmin')";
inline constexpr const char* kServerCollation = "SELECT SERVERPROPERTY('Collation')";

inline constexpr const char* kAllowUpdatesOn = "sp_configure 'allow updates',1";
inline constexpr const char* kReconfigure = "RECONFIGURE WITH OVERRIDE";
inline constexpr const char* kAllowUpdatesOff = "sp_configure 'allow updates',0";

}  // namespace dbsetup::sql
