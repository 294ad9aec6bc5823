#include "install/statements.h"
#include "platform/text_case.h"

#include <algorithm>
#include <cctype>

namespace dbsetup::sql {

namespace {

std::string doubled(std::string_view value, char quote) {
  std::string out;
  out.reserve(value.size() + 2);
  for (char c : value) {
    out += c;
    if (c == quote) out += c;
  }
  return out;
}

// Words that Transact-SQL reserves; as a bare procedure argument they would be
// read as keywords (NULL, DEFAULT, ...) or break the statement.
// clang-format off
constexpr std::string_view kReserved =
    " ADD ALL ALTER AND ANY AS ASC AUTHORIZATION BACKUP BEGIN BETWEEN BREAK BROWSE BULK BY "
    "CASCADE CASE CHECK CHECKPOINT CLOSE CLUSTERED COALESCE COLLATE COLUMN COMMIT COMPUTE "
    "CONSTRAINT CONTAINS CONTAINSTABLE CONTINUE CONVERT CREATE CROSS CURRENT CURRENT_DATE "
    "CURRENT_TIME CURRENT_TIMESTAMP CURRENT_USER CURSOR DATABASE DBCC DEALLOCATE DECLARE "
    "DEFAULT DELETE DENY DESC DISK DISTINCT DISTRIBUTED DOUBLE DROP DUMP ELSE END ERRLVL "
    "ESCAPE EXCEPT EXEC EXECUTE EXISTS EXIT EXTERNAL FETCH FILE FILLFACTOR FOR FOREIGN "
    "FREETEXT FREETEXTTABLE FROM FULL FUNCTION GOTO GRANT GROUP HAVING HOLDLOCK IDENTITY "
    "IDENTITY_INSERT IDENTITYCOL IF IN INDEX INNER INSERT INTERSECT INTO IS JOIN KEY KILL "
    "LEFT LIKE LINENO LOAD MERGE NATIONAL NOCHECK NONCLUSTERED NOT NULL NULLIF OF OFF "
    "OFFSETS ON OPEN OPENDATASOURCE OPENQUERY OPENROWSET OPENXML OPTION OR ORDER OUTER "
    "OUTPUT OVER PERCENT PIVOT PLAN PRECISION PRIMARY PRINT PROC PROCEDURE PUBLIC RAISERROR "
    "READ READONLY READTEXT RECOMPILE RECONFIGURE REFERENCES REPLICATION RESTORE RESTRICT "
    "RETURN REVERT REVOKE RIGHT ROLLBACK ROWCOUNT ROWGUIDCOL RULE SAVE SCHEMA SECURITYAUDIT "
    "SELECT SEMANTICKEYPHRASETABLE SEMANTICSIMILARITYDETAILSTABLE SEMANTICSIMILARITYTABLE "
    "SESSION_USER SET SETUSER SHUTDOWN SOME STATISTICS SYSTEM_USER TABLE TABLESAMPLE "
    "TEXTSIZE THEN TO TOP TRAN TRANSACTION TRIGGER TRUNCATE TRY_CONVERT TSEQUAL UNION UNIQUE "
    "UNPIVOT UPDATE UPDATETEXT USE USER VALUES VARYING VIEW WAITFOR WHEN WHERE WHILE WITH "
    "WITHIN WRITETEXT ";
// clang-format on

bool is_reserved(std::string_view word) {
  return kReserved.find(" " + ascii_upper(word) + " ") != std::string_view::npos;
}

bool is_plain_identifier(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  auto ascii_alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (!ascii_alpha(name[0]) && name[0] != '_') return false;
  for (char c : name)
    if (!ascii_alpha(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  return !is_reserved(name);
}

}  // namespace

std::string literal(std::string_view value) { return doubled(value, '\''); }

std::string bracketed(std::string_view name) { return doubled(name, ']'); }

std::string name_argument(std::string_view name) {
  if (is_plain_identifier(name)) return std::string(name);
  std::string out = "[";
  out += bracketed(name);
  out += ']';
  return out;
}

std::string drop_database(std::string_view dbname) {
  return "Drop DATABASE [" + bracketed(dbname) + "]";
}

std::string drop_login(std::string_view login) { return "sp_droplogin " + name_argument(login); }

std::string add_login(std::string_view login, std::string_view password) {
  return "sp_addlogin '" + literal(login) + "','" + literal(password) + "'";
}

std::string create_login_without_policy(std::string_view login, std::string_view password) {
  return "CREATE LOGIN [" + bracketed(login) + "] WITH PASSWORD = N'" + literal(password) +
         "', CHECK_POLICY = OFF";
}

std::string add_server_role(std::string_view login, std::string_view role) {
  return "sp_addsrvrolemember N'" + literal(login) + "', " + std::string(role);
}

std::string create_database(std::string_view dbname, std::string_view dataname,
                            std::string_view datafile, std::string_view logname,
                            std::string_view logfile, bool with_size) {
  const std::string size = with_size ? "SIZE = 1, " : "";
  return "CREATE DATABASE [" + bracketed(dbname) + "]  ON PRIMARY (NAME = N'" + literal(dataname) +
         "', FILENAME = N'" + literal(datafile) + "' , " + size +
         "FILEGROWTH = 10%) LOG ON (NAME = N'" + literal(logname) + "', FILENAME = N'" +
         literal(logfile) + "' , " + size + "FILEGROWTH = 10%)";
}

std::string default_database(std::string_view login, std::string_view dbname) {
  return "exec sp_defaultdb N'" + literal(login) + "', N'" + literal(dbname) + "'";
}

std::string restore_database(std::string_view dbname, std::string_view backup_file,
                             const char* options, std::string_view dataname,
                             std::string_view datafile, std::string_view logname,
                             std::string_view logfile, const std::vector<Move>& more) {
  std::string text = "RESTORE DATABASE [" + bracketed(dbname) + "] FROM  DISK = N'" +
                     literal(backup_file) + options + literal(dataname) + "' TO N'" +
                     literal(datafile) + "', MOVE N'" + literal(logname) + "' TO N'" +
                     literal(logfile) + "'";
  for (const Move& m : more)
    text += ", MOVE N'" + literal(m.logical) + "' TO N'" + literal(m.path) + "'";
  return text;
}

std::string verify_backup(std::string_view backup_file, bool with_stats) {
  return "RESTORE VERIFYONLY FROM DISK = N'" + literal(backup_file) + "' WITH FILE = 1" +
         (with_stats ? ", STATS = 10" : "");
}

std::string backup_database(std::string_view dbname, std::string_view copy_file) {
  return "BACKUP DATABASE [" + bracketed(dbname) + "] TO DISK = N'" + literal(copy_file) +
         "' WITH INIT, STATS = 10";
}

std::string file_exists(std::string_view path) {
  return "EXEC master.dbo.xp_fileexist N'" + literal(path) + "'";
}

std::string create_folder(std::string_view folder) {
  return "EXEC master.dbo.xp_create_subdir N'" + literal(folder) + "'";
}

std::string header_list(std::string_view backup_file) {
  return "RESTORE HEADERONLY FROM DISK = N'" + literal(backup_file) + "'";
}

std::string file_list(std::string_view backup_file) {
  return "RESTORE FILELISTONLY FROM DISK = N'" + literal(backup_file) + "'";
}

}  // namespace dbsetup::sql
