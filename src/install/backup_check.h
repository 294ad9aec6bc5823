#pragma once

#include <optional>
#include <string>
#include <string_view>

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

// What the backup holds, as far as the install needs it: the logical names
// of the first set's data file (type D) and log file (type L), or why the
// install must not go on.
struct BackupVerdict {
  std::string refusal;  // empty when the backup will do
  std::string data;
  std::string log;
};

// Judges RESTORE HEADERONLY's answer against the server's version: the
// backup must hold a set, and the server must be able to restore the first
// set's version (no newer server wrote it; from SQL Server 2012 on, none
// before SQL Server 2005). A version that either side does not report is
// left for the restore itself to judge.
std::string judge_header(const DbTable& header, std::optional<SqlVersion> server);

// Judges RESTORE FILELISTONLY's answer: the first set must hold a data and a
// log file, and the logical names the restore will move, when given, must be
// among its files' (letter case ignored, as the server does).
BackupVerdict judge_files(const DbTable& files, const std::string* data_name,
                          const std::string* log_name);

}  // namespace dbsetup
