#pragma once

// The injection matrix: every value the operator or dbinstall.ini controls,
// each with each payload, and what a run with it must come to.

#include <ostream>
#include <string>
#include <vector>

#include "e2e_install/expected_install.h"

namespace dbsetup::injection {

enum class Field {
  DatabaseName,   // 2000: dbinstall.ini databasename; 7.0: the field
  DataFolder,     // the data folder field
  BackupFile,     // the backup file field
  DataFileName,   // 2000: dbinstall.ini dataname; 7.0: the backup's file list
  LogFileName,    // 2000: dbinstall.ini logname; 7.0: the backup's file list
  AdminLogin,     // the administrator login field
  AdminPassword,  // the administrator password field
  ServerAddress,  // the server field
};

struct Payload {
  const char* name;
  std::string text;  // empty for the long value, which is a whole value
};

using testing::Stop;

struct Outcome {
  int code = 0;
  Stop stop = Stop::Done;
  int server_error = 0;  // the error number the last statement or the logon gets
  // A value refused before the logon: the key of its short text (-2 the
  // database name, -3 the data folder, -4 the backup path); 0 for none.
  int refused = 0;
};

struct Row {
  std::string name;  // the test's name: field, payload, edition
  Field field;
  Payload payload;
  bool seven = false;
  Outcome outcome;
  // SQL Server 2022 on Linux: its password policy refuses sp_addlogin, so
  // CREATE LOGIN follows, and its model database refuses SIZE = 1 once.
  bool linux_2022 = false;
};

inline void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }
inline void PrintTo(const Payload& p, std::ostream* os) { *os << p.name; }

// The payloads. Each is embedded in an otherwise valid value, except the
// 10,000-character one, which is the whole value.
inline const Payload kQuote{"Quote", "'"};
inline const Payload kBracket{"Bracket", "]"};
inline const Payload kSemicolon{"Semicolon", ";"};
inline const Payload kDashes{"DashComment", "--"};
inline const Payload kSlashStar{"BlockComment", "/*"};
inline const Payload kLineBreak{"LineBreak", "\r\n"};
inline const Payload kChinese{"Chinese", "零售管理"};
inline const Payload kLong{"Long10000", ""};
// A statement that would run if a value ever left its literal or brackets.
inline const Payload kStatement{"Statement", "'];DROP DATABASE master;--"};
// A second login for the connection string: FreeTDS up to 1.3 ends a braced
// value at "};" and would read the rest as attributes of its own.
inline const Payload kBrace{"Brace", "};UID={zq};"};

inline const std::vector<Payload> kStatementPayloads = {
    kQuote, kBracket, kSemicolon, kDashes, kSlashStar, kLineBreak, kChinese, kLong, kStatement};
inline const std::vector<Payload> kConnectionPayloads = {
    kQuote, kBracket, kSemicolon, kDashes, kSlashStar, kLineBreak, kChinese, kLong, kBrace};

inline constexpr std::size_t kLongLength = 10'000;

// `before` + payload + `after`; the long payload repeats `before` + `after`
// up to 10,000 characters instead.
inline std::string embed(const Payload& p, const std::string& before, const std::string& after) {
  if (!p.text.empty()) return before + p.text + after;
  std::string v;
  while (v.size() < kLongLength) v += before + after;
  return v.substr(0, kLongLength);
}

}  // namespace dbsetup::injection
