// CREATE DATABASE with its file definitions, DROP DATABASE, RESTORE with
// its devices and options, and CREATE LOGIN.

#include "sql_parser.h"

#include <algorithm>
#include <climits>
#include <initializer_list>

namespace standin {

namespace detail {

CreateDatabase Parser::create_database() {
  CreateDatabase c;
  c.name = name();
  if (accept_word("ON")) {
    accept_word("PRIMARY");
    do {
      if (accept_word("FILEGROUP")) {
        name();
        accept_word("DEFAULT");
      }
      c.data.push_back(filespec());
    } while (accept_symbol(","));
  }
  if (accept_word("LOG")) {
    expect_word("ON");
    do {
      c.log.push_back(filespec());
    } while (accept_symbol(","));
  }
  if (accept_word("COLLATE")) name();
  return c;
}

double Parser::size_value() {
  if (peek().kind != Tok::Number) fail();
  double v = number(next(), 1e12);
  if (peek().kind == Tok::Ident) {
    std::string unit = ascii_upper(peek().text);
    if (unit == "KB")
      v /= 1024, ++i_;
    else if (unit == "MB")
      ++i_;
    else if (unit == "GB")
      v *= 1024, ++i_;
    else if (unit == "TB")
      v *= 1024 * 1024, ++i_;
  }
  return v;
}

FileSpec Parser::filespec() {
  FileSpec f;
  expect_symbol("(");
  bool has_file = false;
  do {
    if (symbol(")")) break;
    std::string key = peek().kind == Tok::Ident ? ascii_upper(peek().text) : "";
    if (key == "NAME") {
      ++i_;
      expect_symbol("=");
      const auto& v = peek();
      if (v.kind == Tok::String || v.kind == Tok::NString) {
        f.logical = v.text;
        ++i_;
      } else {
        f.logical = name();
      }
    } else if (key == "FILENAME") {
      ++i_;
      expect_symbol("=");
      f.filename = string_value();
      has_file = true;
    } else if (key == "SIZE") {
      ++i_;
      expect_symbol("=");
      f.size_mb = size_value();
    } else if (key == "MAXSIZE") {
      ++i_;
      expect_symbol("=");
      if (!accept_word("UNLIMITED")) size_value();
    } else if (key == "FILEGROWTH") {
      ++i_;
      expect_symbol("=");
      if (peek().kind != Tok::Number) fail();
      ++i_;
      if (!accept_symbol("%")) {
        static const char* units[] = {"KB", "MB", "GB", "TB"};
        for (auto u : units)
          if (accept_word(u)) break;
      }
      f.has_growth = true;
    } else {
      fail();
    }
  } while (accept_symbol(","));
  expect_symbol(")");
  if (!has_file) fail_at(toks_[i_ - 1]);
  return f;
}

// ---- DROP DATABASE ----
DropDatabase Parser::drop_database() {
  DropDatabase d;
  if (word("IF") && word("EXISTS", 1)) {
    i_ += 2;
    d.if_exists = true;
  }
  do {
    d.names.push_back(name());
  } while (accept_symbol(","));
  return d;
}

// ---- RESTORE ----
std::string Parser::disk_value() {
  expect_symbol("=");
  const auto& v = peek();
  if (v.kind == Tok::String || v.kind == Tok::NString || v.kind == Tok::Variable) {
    ++i_;
    return v.text;
  }
  fail();
}

// The backup devices of BACKUP and RESTORE: the first one's disk file, ""
// when it is a tape, a URL or a logical device.
std::string Parser::devices() {
  std::string first;
  bool first_device = true;
  do {
    if (accept_word("DISK")) {
      std::string d = disk_value();
      if (first_device) first = d;
    } else if (accept_word("TAPE") || accept_word("URL")) {
      disk_value();
    } else {
      name();  // a logical backup device
    }
    first_device = false;
  } while (accept_symbol(","));
  return first;
}

// "[WITH option [, option]...]" of BACKUP and RESTORE: `option` is called
// with each option's name in capitals, once the name is read, and takes its
// value if it has one; it returns false for an option it does not know.
template <class Option>
void Parser::with_options(const char* statement, Option&& option) {
  if (!accept_word("WITH")) return;
  do {
    const SqlToken& t = peek();
    if (t.kind != Tok::Ident) fail();
    ++i_;
    if (!option(ascii_upper(t.text))) {
      throw SqlError(
          {syntax_message(155, line_of(sql_, t.pos),
                          "'" + t.text + "' is not a recognized " + statement + " option.")});
    }
  } while (accept_symbol(","));
}

// STATS [= percentage]: 10 % when no value is given.
int Parser::stats_option() {
  if (!accept_symbol("=")) return 10;
  if (peek().kind != Tok::Number) fail();
  return static_cast<int>(number(next(), INT32_MAX));
}

namespace {

bool one_of(const std::string& opt, std::initializer_list<const char*> list) {
  return std::any_of(list.begin(), list.end(), [&](const char* o) { return opt == o; });
}

}  // namespace

Restore Parser::restore() {
  expect_word("RESTORE");
  Restore r;
  if (accept_word("DATABASE")) {
    r.kind = Restore::Database;
    r.database = name();
  } else if (accept_word("FILELISTONLY")) {
    r.kind = Restore::FileListOnly;
  } else if (accept_word("HEADERONLY")) {
    r.kind = Restore::HeaderOnly;
  } else if (accept_word("VERIFYONLY")) {
    r.kind = Restore::VerifyOnly;
  } else {
    fail();
  }
  expect_word("FROM");
  r.disk = devices();
  with_options("RESTORE", [&](const std::string& opt) {
    if (opt == "FILE") {
      expect_symbol("=");
      if (peek().kind != Tok::Number) fail();
      r.file = static_cast<int>(number(next(), INT32_MAX));
    } else if (opt == "STATS") {
      r.stats = stats_option();
    } else if (opt == "RECOVERY" || opt == "NORECOVERY") {
      r.recovery = opt == "RECOVERY";
    } else if (opt == "REPLACE") {
      r.replace = true;
    } else if (opt == "MOVE") {
      std::string logical = string_value();
      expect_word("TO");
      r.moves.emplace_back(logical, string_value());
    } else if (one_of(opt, {"STANDBY", "PASSWORD", "MEDIANAME", "MEDIAPASSWORD", "BLOCKSIZE",
                            "BUFFERCOUNT", "MAXTRANSFERSIZE"})) {
      expect_symbol("=");
      next();
    } else {
      return one_of(opt, {"NOUNLOAD", "UNLOAD", "RESTART", "CHECKSUM", "NO_CHECKSUM",
                          "CONTINUE_AFTER_ERROR", "STOP_ON_ERROR", "KEEP_REPLICATION", "REWIND",
                          "NOREWIND", "PARTIAL", "RESTRICTED_USER"});
    }
    return true;
  });
  return r;
}

// ---- BACKUP DATABASE ----
BackupDatabase Parser::backup() {
  expect_word("BACKUP");
  expect_word("DATABASE");
  BackupDatabase b;
  b.database = name();
  expect_word("TO");
  b.disk = devices();
  with_options("BACKUP", [&](const std::string& opt) {
    if (opt == "INIT") {
      b.init = true;
    } else if (opt == "DIFFERENTIAL") {
      b.differential = true;
    } else if (opt == "STATS") {
      b.stats = stats_option();
    } else if (one_of(opt, {"NAME", "DESCRIPTION", "MEDIANAME", "MEDIADESCRIPTION", "BLOCKSIZE",
                            "BUFFERCOUNT", "MAXTRANSFERSIZE", "RETAINDAYS", "EXPIREDATE",
                            "PASSWORD", "MEDIAPASSWORD"})) {
      expect_symbol("=");
      next();
    } else {
      return one_of(opt,
                    {"NOINIT", "FORMAT", "NOFORMAT", "SKIP", "NOSKIP", "COPY_ONLY", "COMPRESSION",
                     "NO_COMPRESSION", "CHECKSUM", "NO_CHECKSUM", "NOUNLOAD", "UNLOAD", "REWIND",
                     "NOREWIND", "RESTART", "STOP_ON_ERROR", "CONTINUE_AFTER_ERROR"});
    }
    return true;
  });
  return b;
}

// CREATE LOGIN name WITH PASSWORD = '...' [, CHECK_POLICY = ON|OFF]
//   [, CHECK_EXPIRATION = ON|OFF] [, DEFAULT_DATABASE = name]
CreateLogin Parser::create_login() {
  CreateLogin c;
  c.name = name();
  expect_word("WITH");
  bool has_password = false;
  do {
    const SqlToken& option = next();
    if (option.kind != Tok::Ident) fail_at(option);
    std::string o = ascii_upper(option.text);
    expect_symbol("=");
    if (o == "PASSWORD" && !has_password) {
      c.password = string_value();
      has_password = true;
    } else if (o == "CHECK_POLICY" || o == "CHECK_EXPIRATION") {
      bool on = accept_word("ON");
      if (!on) expect_word("OFF");
      if (o == "CHECK_POLICY") c.check_policy = on;
    } else if (o == "DEFAULT_DATABASE") {
      c.default_database = name();
    } else {
      fail_at(option);
    }
  } while (accept_symbol(","));
  if (!has_password) fail();
  return c;
}

}  // namespace detail

}  // namespace standin
