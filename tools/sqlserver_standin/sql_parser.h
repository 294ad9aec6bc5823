#pragma once

// Private to the parser: the recursive-descent parser of a batch and the
// helpers it shares with the lexer. sql_parser.cpp holds the token helpers and
// the statement dispatch (with EXEC and SET), sql_parser_select.cpp SELECT and
// expressions, sql_parser_databases.cpp CREATE/DROP DATABASE, RESTORE and BACKUP.

#include <algorithm>
#include <string>
#include <vector>

#include "sql.h"

namespace standin::detail {

// The line (from 1) of a byte offset into the batch.
int line_of(const std::string& sql, size_t pos);
// A syntax error (class 15) as SQL Server sends it.
ServerMessage syntax_message(int number, int line, const std::string& text);

class Parser {
 public:
  explicit Parser(const std::string& sql) : sql_(sql), toks_(tokenize(sql)) {}

  std::vector<Statement> batch();

 private:
  // Parsing, evaluating and freeing a statement recurse as deep as its tree:
  // every nested expression or IF, and every operator of a chain such as
  // 1 + 1 + 1 (which builds a left-deep tree), is one level. Beyond this
  // depth the batch fails as SQL Server fails it (191) instead of running
  // out of stack.
  static constexpr int kMaxNesting = 256;
  void deeper();
  // One level for as long as it lives.
  class Nest {
   public:
    explicit Nest(Parser& p) : p_(p) { p_.deeper(); }
    ~Nest() { --p_.depth_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

   private:
    Parser& p_;
  };
  // One level per operator of a chain, for as long as it lives.
  class Chain {
   public:
    explicit Chain(Parser& p) : p_(p) {}
    void link() {
      ++links_;
      p_.deeper();
    }
    ~Chain() { p_.depth_ -= links_; }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

   private:
    Parser& p_;
    int links_ = 0;
  };

  // Tokens.
  const SqlToken& peek(size_t k = 0) const { return toks_[std::min(i_ + k, toks_.size() - 1)]; }
  bool at_end() const { return peek().kind == Tok::End; }
  const SqlToken& next() { return toks_[std::min(i_++, toks_.size() - 1)]; }
  [[noreturn]] void fail() const { fail_at(peek()); }
  bool word(const std::string& w, size_t k = 0) const;
  bool symbol(const std::string& s, size_t k = 0) const;
  [[noreturn]] void fail_at(const SqlToken& t) const;
  void expect_word(const std::string& w);
  void expect_symbol(const std::string& s);
  bool accept_word(const std::string& w);
  bool accept_symbol(const std::string& s);
  std::string name();
  std::vector<std::string> multipart();
  double number(const SqlToken& t, double max) const;
  std::string string_value();

  // Statements.
  Statement statement(bool first);
  void skip_tran_name();
  Exec exec();
  SetOption set_option();

  // sql_parser_select.cpp
  Select select();
  ExprPtr expr() { return or_expr(); }
  ExprPtr make(Expr::Kind k, std::string text, std::vector<ExprPtr> args = {});
  ExprPtr or_expr();
  ExprPtr and_expr();
  ExprPtr not_expr();
  ExprPtr comparison();
  ExprPtr additive();
  ExprPtr unary();
  ExprPtr primary();

  // sql_parser_databases.cpp
  CreateDatabase create_database();
  double size_value();
  FileSpec filespec();
  DropDatabase drop_database();
  std::string disk_value();
  std::string devices();
  template <class Option>
  void with_options(const char* statement, Option&& option);
  int stats_option();
  Restore restore();
  BackupDatabase backup();
  CreateLogin create_login();

  // sql_parser_logins.cpp
  AlterLogin alter_login();

  const std::string& sql_;
  std::vector<SqlToken> toks_;
  size_t i_ = 0;
  int depth_ = 0;
};

}  // namespace standin::detail
