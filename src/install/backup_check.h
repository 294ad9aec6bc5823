#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db_client.h"

namespace dbsetup {

// A SQL Server release as major.minor (8.0 is SQL Server 2000, 10.50 is
// SQL Server 2008 R2, 16.0 is SQL Server 2022).
struct SqlVersion {
  int major = 0;
  int minor = 0;
  auto operator<=>(const SqlVersion&) const = default;
};

// "16.00.1000" or "16.0" as drivers report it; nothing when the text does
// not start with two numbers.
std::optional<SqlVersion> parse_sql_version(std::string_view text);

// One file of a backup set as RESTORE FILELISTONLY lists it.
struct BackupFile {
  std::string logical;
  char type = 'D';          // D data, L log
  std::uint64_t bytes = 0;  // its size when restored
};

// What the backup holds, as far as the install needs it: the logical names
// of the first set's data file (type D) and log file (type L) that the
// install moves by name, the set's further data and log files, or why the
// install must not go on.
struct BackupVerdict {
  std::string refusal;  // empty when the backup will do
  std::string data;
  std::string log;
  std::uint64_t data_bytes = 0;
  std::uint64_t log_bytes = 0;
  std::vector<BackupFile> more;  // in the order the list gives them
};

// Judges RESTORE HEADERONLY's answer against the server's version: the
// backup must hold a set, the first set (Position 1) must be a full database
// backup, and the server must be able to restore its version (no newer
// server wrote it; from SQL Server 2012 on, none before SQL Server 2005). A
// type or version that the answer or the server does not report is left for
// the restore itself to judge.
std::string judge_header(const DbTable& header, std::optional<SqlVersion> server);

// Judges RESTORE FILELISTONLY's answer: the first set must hold a data and a
// log file and nothing but data and log files, the logical names the restore
// will move, when given, must be among its files' (compared as the server
// compares names: with letter case only when its collation is
// case-sensitive), and every further file's name must be usable in a file
// name, since the install names its file after it.
BackupVerdict judge_files(const DbTable& files, const std::string* data_name,
                          const std::string* log_name, bool case_sensitive = false);

// Whether names compare with letter case under this collation
// (SERVERPROPERTY('Collation'): "Latin1_General_CS_AS", "Chinese_PRC_BIN2").
bool collation_is_case_sensitive(std::string_view collation);

}  // namespace dbsetup
