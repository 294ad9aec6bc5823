#pragma once

#include <string>
#include <string_view>

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

std::string restore_database(std::string_view dbname, std::string_view backup_file,
                             const char* options, std::string_view dataname,
                             std::string_view datafile, std::string_view logname,
                             std::string_view logfile);
// Lists the backup sets of a backup file: one row each, with the columns
// SoftwareVersionMajor and SoftwareVersionMinor among many.
std::string header_list(std::string_view backup_file);
// Lists the files of a backup's first set: LogicalName, PhysicalName, Type, ...
std::string file_list(std::string_view backup_file);

inline constexpr const char* kAllowUpdatesOn = "sp_configure 'allow updates',1";
inline constexpr const char* kReconfigure = "RECONFIGURE WITH OVERRIDE";
inline constexpr const char* kAllowUpdatesOff = "sp_configure 'allow updates',0";

}  // namespace dbsetup::sql
