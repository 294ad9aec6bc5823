#pragma once

// The T-SQL the stand-in understands: a lexer and a parser that turn a batch
// into statements. Anything it cannot read becomes SQL Server's syntax error.

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "tds.h"

namespace standin {

// ---- lexer ----------------------------------------------------------------------

enum class Tok {
  Ident,        // bare word; text as written
  QuotedIdent,  // [x] or "x"; text without the quotes, doubled quotes undone
  String,       // '...'; text without the quotes
  NString,      // N'...'
  Number,       // 12, 1.5
  Variable,     // @x, @@x (text includes the @)
  Symbol,       // = , ( ) ; . % + - * / < > <= >= <> != ~
  End,
};

struct SqlToken {
  Tok kind = Tok::End;
  std::string text;
  size_t pos = 0;
};

// A batch that cannot be run: the messages SQL Server sends for it.
struct SqlError : std::runtime_error {
  explicit SqlError(std::vector<ServerMessage> m)
      : std::runtime_error(m.empty() ? "sql error" : m.front().text), messages(std::move(m)) {}
  std::vector<ServerMessage> messages;
};

std::vector<SqlToken> tokenize(const std::string& sql);  // throws SqlError (105)

bool iequals(const std::string& a, const std::string& b);
std::string ascii_upper(std::string s);
bool is_reserved_word(const std::string& word);

// ---- expressions ------------------------------------------------------------------

struct Expr;
using ExprPtr = std::shared_ptr<Expr>;

struct Expr {
  enum Kind { String, Number, Null, Column, Variable, Function, Binary, Not, Negate } kind = Null;
  std::string text;  // literal text, column or variable name, function name, operator
  std::vector<ExprPtr> args;
};

// ---- statements --------------------------------------------------------------------

struct FileSpec {
  std::string logical;
  std::string filename;
  std::optional<double> size_mb;  // SIZE, converted to MB
  bool has_growth = false;
};

struct CreateDatabase {
  std::string name;
  std::vector<FileSpec> data, log;
};

struct DropDatabase {
  std::vector<std::string> names;
  bool if_exists = false;
};

struct Restore {
  enum Kind { Database, FileListOnly, HeaderOnly, VerifyOnly } kind = Database;
  std::string database;
  std::string disk;  // empty when FROM names no DISK
  int file = 1;
  std::optional<int> stats;  // percent step
  bool recovery = true;
  bool replace = false;
  std::vector<std::pair<std::string, std::string>> moves;  // logical name, new path
};

struct BackupDatabase {
  std::string database;
  std::string disk;  // empty when TO names no DISK
  bool init = false;
  bool differential = false;
  std::optional<int> stats;  // percent step
};

struct CreateLogin {
  std::string name;
  std::string password;
  bool check_policy = true;
  std::optional<std::string> default_database;
};

// ALTER LOGIN name ENABLE | DISABLE.
struct AlterLogin {
  std::string name;
  bool enable = true;
};

struct ExecArg {
  std::string name;  // "@loginame" when given by name
  enum Kind { String, Number, Null, Default, Variable } kind = String;
  std::string text;
};

struct Exec {
  std::string proc;     // last part of the name, as written
  std::string written;  // the whole name as written: master.dbo.xp_fileexist
  std::vector<ExecArg> args;
};

struct Reconfigure {
  bool with_override = false;
};

struct Use {
  std::string database;
};

struct SetOption {
  std::vector<std::string> options;  // upper case
  std::string value;                 // ON, OFF, a number, a word
};

struct Transaction {
  enum Kind { Begin, Commit, Rollback, Save } kind = Begin;
};

struct SelectItem {
  ExprPtr expr;  // nullptr for *
  std::string alias;
};

struct Select {
  std::vector<SelectItem> items;
  std::string from;  // last part of the table name, lower case; empty without FROM
  std::string from_text;
  ExprPtr where;
};

struct Print {
  ExprPtr expr;
};

struct Statement;
using StatementPtr = std::shared_ptr<Statement>;

struct If {
  ExprPtr condition;
  StatementPtr then_branch, else_branch;
};

struct Statement {
  std::variant<Select, CreateDatabase, DropDatabase, Restore, BackupDatabase, Exec, Reconfigure,
               Use, SetOption, Transaction, If, Print, CreateLogin, AlterLogin>
      body;
  std::string keyword;  // first word, for messages and logs
};

// Parses a whole batch. `first_may_be_proc`: a leading bare name is a procedure call.
std::vector<Statement> parse_batch(const std::string& sql);

// Declared parameter names of sp_executesql's @params text ("@P1 nvarchar(40), @P2 int").
std::vector<std::string> parse_param_declarations(const std::string& decl);

}  // namespace standin
