#include "sql.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <set>

namespace standin {

namespace {

bool ident_start(unsigned char c) { return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80; }
bool ident_part(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '@' || c == '#' || c == '$' || c >= 0x80;
}

int line_of(const std::string& sql, size_t pos) {
  return 1 +
         static_cast<int>(std::count(sql.begin(), sql.begin() + std::min(pos, sql.size()), '\n'));
}

ServerMessage syntax_message(int number, int line, const std::string& text) {
  ServerMessage m;
  m.number = number;
  m.cls = 15;
  m.state = 1;
  m.line = line;
  m.text = text;
  return m;
}

[[noreturn]] void unclosed(const std::string& sql, size_t pos, const std::string& rest) {
  int line = line_of(sql, pos);
  throw SqlError(
      {syntax_message(105, line,
                      "Unclosed quotation mark after the character string '" + rest + "'."),
       syntax_message(102, line, "Incorrect syntax near '" + rest + "'.")});
}

// SQL Server's names are sysname, nvarchar(128): a longer identifier, bare or
// quoted, fails the batch before anything runs.
void check_identifier_length(const std::string& sql, const SqlToken& t) {
  constexpr size_t kMax = 128;
  size_t units = 0;
  size_t cut = t.text.size();
  for (size_t k = 0; k < t.text.size(); ++k) {
    const auto b = static_cast<unsigned char>(t.text[k]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte
    if (units >= kMax && cut == t.text.size()) cut = k;
    units += b >= 0xF0 ? 2 : 1;  // outside the BMP: two UTF-16 units
  }
  if (units <= kMax) return;
  throw SqlError({syntax_message(103, line_of(sql, t.pos),
                                 "The identifier that starts with '" + t.text.substr(0, cut) +
                                     "' is too long. Maximum length is 128.")});
}

}  // namespace

bool iequals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

std::string ascii_upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool is_reserved_word(const std::string& word) {
  static const std::set<std::string> words = {
      "ADD",          "ALL",          "ALTER",     "AND",         "ANY",      "AS",
      "ASC",          "BACKUP",       "BEGIN",     "BETWEEN",     "BY",       "CASE",
      "CHECK",        "COLUMN",       "COMMIT",    "CREATE",      "CROSS",    "DATABASE",
      "DEFAULT",      "DELETE",       "DESC",      "DISK",        "DISTINCT", "DROP",
      "ELSE",         "END",          "EXEC",      "EXECUTE",     "EXISTS",   "FILE",
      "FROM",         "GRANT",        "GROUP",     "HAVING",      "IF",       "IN",
      "INSERT",       "INTO",         "IS",        "JOIN",        "LIKE",     "NOT",
      "NULL",         "OF",           "ON",        "OR",          "ORDER",    "PRIMARY",
      "PRINT",        "PROC",         "PROCEDURE", "RECONFIGURE", "RESTORE",  "REVOKE",
      "ROLLBACK",     "SAVE",         "SELECT",    "SET",         "TABLE",    "THEN",
      "TO",           "TOP",          "TRAN",      "TRANSACTION", "UNION",    "UPDATE",
      "USE",          "VALUES",       "WHERE",     "WITH",        "WHILE",    "SYSTEM_USER",
      "CURRENT_USER", "SESSION_USER", "USER"};
  return words.count(ascii_upper(word)) > 0;
}

// ---- lexer ------------------------------------------------------------------------------

std::vector<SqlToken> tokenize(const std::string& sql) {
  std::vector<SqlToken> out;
  size_t i = 0;
  const size_t n = sql.size();
  auto at = [&](size_t k) -> unsigned char {
    return k < n ? static_cast<unsigned char>(sql[k]) : 0;
  };
  while (i < n) {
    unsigned char c = at(i);
    if (std::isspace(c) || c == 0) {
      ++i;
      continue;
    }
    if (c == '-' && at(i + 1) == '-') {
      while (i < n && sql[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && at(i + 1) == '*') {
      int depth = 0;
      size_t start = i;
      do {
        if (at(i) == '/' && at(i + 1) == '*') {
          ++depth;
          i += 2;
        } else if (at(i) == '*' && at(i + 1) == '/') {
          --depth;
          i += 2;
        } else {
          ++i;
        }
      } while (depth > 0 && i < n);
      if (depth > 0)
        throw SqlError(
            {syntax_message(113, line_of(sql, start), "Missing end comment mark '*/'.")});
      continue;
    }
    SqlToken t;
    t.pos = i;
    if (c == '\'' || ((c == 'N' || c == 'n') && at(i + 1) == '\'')) {
      t.kind = c == '\'' ? Tok::String : Tok::NString;
      i += c == '\'' ? 1 : 2;
      std::string v;
      for (;;) {
        if (i >= n) unclosed(sql, t.pos, v);
        if (sql[i] == '\'') {
          if (at(i + 1) == '\'') {
            v.push_back('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        v.push_back(sql[i++]);
      }
      t.text = v;
    } else if (c == '[' || c == '"') {
      char close = c == '[' ? ']' : '"';
      t.kind = Tok::QuotedIdent;
      ++i;
      std::string v;
      for (;;) {
        if (i >= n) unclosed(sql, t.pos, v);
        if (sql[i] == close) {
          if (at(i + 1) == static_cast<unsigned char>(close)) {
            v.push_back(close);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        v.push_back(sql[i++]);
      }
      t.text = v;
      check_identifier_length(sql, t);
    } else if (c == '@') {
      t.kind = Tok::Variable;
      size_t s = i++;
      if (at(i) == '@') ++i;
      while (i < n && ident_part(at(i))) ++i;
      t.text = sql.substr(s, i - s);
    } else if (std::isdigit(c) || (c == '.' && std::isdigit(at(i + 1)))) {
      t.kind = Tok::Number;
      size_t s = i;
      if (c == '0' && (at(i + 1) == 'x' || at(i + 1) == 'X')) {
        i += 2;
        while (std::isxdigit(at(i))) ++i;
      } else {
        while (std::isdigit(at(i))) ++i;
        if (at(i) == '.') {
          ++i;
          while (std::isdigit(at(i))) ++i;
        }
      }
      t.text = sql.substr(s, i - s);
    } else if (ident_start(c)) {
      t.kind = Tok::Ident;
      size_t s = i;
      while (i < n && ident_part(at(i))) ++i;
      t.text = sql.substr(s, i - s);
      check_identifier_length(sql, t);
    } else {
      t.kind = Tok::Symbol;
      std::string two = sql.substr(i, 2);
      if (two == "<=" || two == ">=" || two == "<>" || two == "!=" || two == "!<" || two == "!>") {
        t.text = two;
        i += 2;
      } else {
        t.text = std::string(1, static_cast<char>(c));
        ++i;
      }
    }
    out.push_back(std::move(t));
  }
  SqlToken end;
  end.kind = Tok::End;
  end.pos = n;
  out.push_back(end);
  return out;
}

// ---- parser --------------------------------------------------------------------------------

namespace {

class Parser {
 public:
  explicit Parser(const std::string& sql) : sql_(sql), toks_(tokenize(sql)) {}

  std::vector<Statement> batch() {
    std::vector<Statement> out;
    bool first = true;
    while (!at_end()) {
      if (symbol(";")) {
        ++i_;
        continue;
      }
      out.push_back(statement(first));
      first = false;
    }
    return out;
  }

 private:
  // Parsing, evaluating and freeing a statement recurse as deep as its tree:
  // every nested expression or IF, and every operator of a chain such as
  // 1 + 1 + 1 (which builds a left-deep tree), is one level. Beyond this
  // depth the batch fails as SQL Server fails it (191) instead of running
  // out of stack.
  static constexpr int kMaxNesting = 256;
  void deeper() {
    if (++depth_ > kMaxNesting)
      throw SqlError({syntax_message(191, line_of(sql_, peek().pos),
                                     "Some part of your SQL statement is nested too deeply. "
                                     "Rewrite the query or break it up into smaller queries.")});
  }
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

  const SqlToken& peek(size_t k = 0) const { return toks_[std::min(i_ + k, toks_.size() - 1)]; }
  bool at_end() const { return peek().kind == Tok::End; }
  bool word(const std::string& w, size_t k = 0) const {
    return peek(k).kind == Tok::Ident && iequals(peek(k).text, w);
  }
  bool symbol(const std::string& s, size_t k = 0) const {
    return peek(k).kind == Tok::Symbol && peek(k).text == s;
  }
  const SqlToken& next() { return toks_[std::min(i_++, toks_.size() - 1)]; }

  [[noreturn]] void fail() const { fail_at(peek()); }
  [[noreturn]] void fail_at(const SqlToken& t) const {
    const SqlToken* near = &t;
    if (t.kind == Tok::End && i_ > 0) near = &toks_[std::min(i_, toks_.size() - 1) - 1];
    if (near->kind == Tok::End) {
      throw SqlError({syntax_message(102, line_of(sql_, t.pos), "Incorrect syntax near ''.")});
    }
    if (near->kind == Tok::Ident && is_reserved_word(near->text) && t.kind != Tok::End) {
      throw SqlError({syntax_message(156, line_of(sql_, near->pos),
                                     "Incorrect syntax near the keyword '" + near->text + "'.")});
    }
    throw SqlError({syntax_message(102, line_of(sql_, near->pos),
                                   "Incorrect syntax near '" + near->text + "'.")});
  }
  void expect_word(const std::string& w) {
    if (!word(w)) fail();
    ++i_;
  }
  void expect_symbol(const std::string& s) {
    if (!symbol(s)) fail();
    ++i_;
  }
  bool accept_word(const std::string& w) {
    if (!word(w)) return false;
    ++i_;
    return true;
  }
  bool accept_symbol(const std::string& s) {
    if (!symbol(s)) return false;
    ++i_;
    return true;
  }

  // A name: bare (not a reserved word) or quoted.
  std::string name() {
    const auto& t = peek();
    if (t.kind == Tok::QuotedIdent || (t.kind == Tok::Ident && !is_reserved_word(t.text))) {
      ++i_;
      return t.text;
    }
    fail();
  }

  // a.b.c, a..c; returns the parts (empty ones kept).
  std::vector<std::string> multipart() {
    std::vector<std::string> parts{name()};
    while (symbol(".")) {
      ++i_;
      if (symbol(".")) {
        parts.emplace_back();
        continue;
      }
      parts.push_back(name());
    }
    return parts;
  }

  // A number token's value; too large a value is SQL Server's overflow error.
  double number(const SqlToken& t, double max) const {
    double v = 0;
    try {
      v = std::stod(t.text);
    } catch (const std::exception&) {
      v = max + 1;
    }
    if (v > max) {
      ServerMessage m =
          syntax_message(8115, line_of(sql_, t.pos),
                         "Arithmetic overflow error converting expression to data type int.");
      m.cls = 16;
      m.state = 2;
      throw SqlError({m});
    }
    return v;
  }

  std::string string_value() {
    const auto& t = peek();
    if (t.kind == Tok::String || t.kind == Tok::NString) {
      ++i_;
      return t.text;
    }
    fail();
  }

  Statement statement(bool first) {
    const SqlToken& t = peek();
    Statement s;
    s.keyword = t.kind == Tok::Ident ? ascii_upper(t.text) : t.text;
    if (t.kind != Tok::Ident && t.kind != Tok::QuotedIdent) fail();
    std::string w = ascii_upper(t.text);
    if (t.kind == Tok::QuotedIdent) w.clear();
    if (w == "SELECT") {
      s.body = select();
    } else if (w == "CREATE") {
      ++i_;
      expect_word("DATABASE");
      s.keyword = "CREATE DATABASE";
      s.body = create_database();
    } else if (w == "DROP") {
      ++i_;
      expect_word("DATABASE");
      s.keyword = "DROP DATABASE";
      s.body = drop_database();
    } else if (w == "RESTORE") {
      s.body = restore();
    } else if (w == "EXEC" || w == "EXECUTE") {
      ++i_;
      s.keyword = "EXECUTE";
      s.body = exec();
    } else if (w == "RECONFIGURE") {
      ++i_;
      Reconfigure r;
      if (accept_word("WITH")) {
        expect_word("OVERRIDE");
        r.with_override = true;
      }
      s.body = r;
    } else if (w == "USE") {
      ++i_;
      s.body = Use{name()};
    } else if (w == "SET") {
      s.body = set_option();
    } else if (w == "BEGIN") {
      ++i_;
      if (!accept_word("TRAN") && !accept_word("TRANSACTION")) fail();
      skip_tran_name();
      s.body = Transaction{Transaction::Begin};
    } else if (w == "COMMIT" || w == "ROLLBACK" || w == "SAVE") {
      ++i_;
      bool tran = accept_word("TRAN") || accept_word("TRANSACTION");
      if (!tran) accept_word("WORK");
      if (w == "SAVE" && !tran) fail();
      skip_tran_name();
      s.body = Transaction{w == "COMMIT"     ? Transaction::Commit
                           : w == "ROLLBACK" ? Transaction::Rollback
                                             : Transaction::Save};
    } else if (w == "IF") {
      ++i_;
      Nest nest(*this);
      If f;
      f.condition = expr();
      f.then_branch = std::make_shared<Statement>(statement(false));
      accept_symbol(";");
      if (accept_word("ELSE")) f.else_branch = std::make_shared<Statement>(statement(false));
      s.body = f;
    } else if (w == "PRINT") {
      ++i_;
      s.body = Print{expr()};
    } else if (first && (t.kind == Tok::QuotedIdent || !is_reserved_word(t.text))) {
      s.keyword = "EXECUTE";
      s.body = exec();
    } else {
      fail();
    }
    return s;
  }

  void skip_tran_name() {
    if (peek().kind == Tok::Ident && !is_reserved_word(peek().text)) {
      // "COMMIT TRAN name" - but not the start of the next statement.
      static const char* starters[] = {"SELECT", "EXEC", "EXECUTE", "SET", "IF", "USE", "PRINT"};
      for (auto st : starters)
        if (word(st)) return;
      ++i_;
    } else if (peek().kind == Tok::QuotedIdent || peek().kind == Tok::Variable) {
      ++i_;
    }
  }

  // ---- SELECT ----
  Select select() {
    expect_word("SELECT");
    Select s;
    accept_word("ALL");
    accept_word("DISTINCT");
    if (accept_word("TOP")) {
      bool paren = accept_symbol("(");
      if (peek().kind != Tok::Number) fail();
      ++i_;
      if (paren) expect_symbol(")");
    }
    do {
      SelectItem item;
      if (accept_symbol("*")) {
        s.items.push_back(item);
        continue;
      }
      item.expr = expr();
      if (accept_word("AS")) {
        const auto& a = peek();
        if (a.kind == Tok::Ident || a.kind == Tok::QuotedIdent || a.kind == Tok::String ||
            a.kind == Tok::NString) {
          item.alias = a.text;
          ++i_;
        } else {
          fail();
        }
      } else if ((peek().kind == Tok::Ident && !is_reserved_word(peek().text)) ||
                 peek().kind == Tok::QuotedIdent || peek().kind == Tok::String) {
        item.alias = next().text;
      }
      s.items.push_back(item);
    } while (accept_symbol(","));
    if (accept_word("FROM")) {
      size_t start = peek().pos;
      auto parts = multipart();
      s.from_text = sql_.substr(start, peek().pos - start);
      while (!s.from_text.empty() && std::isspace(static_cast<unsigned char>(s.from_text.back())))
        s.from_text.pop_back();
      std::string last = parts.back();
      for (auto& ch : last) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      s.from = last;
      if (parts.size() >= 2 && iequals(parts[parts.size() - 2], "sys")) s.from = "sys." + last;
      if (peek().kind == Tok::Ident && !is_reserved_word(peek().text)) ++i_;  // table alias
      if (accept_word("WHERE")) s.where = expr();
    }
    if (accept_word("ORDER")) {
      expect_word("BY");
      do {
        expr();
        if (!accept_word("ASC")) accept_word("DESC");
      } while (accept_symbol(","));
    }
    return s;
  }

  // ---- expressions ----
  ExprPtr make(Expr::Kind k, std::string text, std::vector<ExprPtr> args = {}) {
    auto e = std::make_shared<Expr>();
    e->kind = k;
    e->text = std::move(text);
    e->args = std::move(args);
    return e;
  }

  ExprPtr expr() { return or_expr(); }
  ExprPtr or_expr() {
    auto l = and_expr();
    Chain chain(*this);
    while (accept_word("OR")) {
      chain.link();
      l = make(Expr::Binary, "OR", {l, and_expr()});
    }
    return l;
  }
  ExprPtr and_expr() {
    auto l = not_expr();
    Chain chain(*this);
    while (accept_word("AND")) {
      chain.link();
      l = make(Expr::Binary, "AND", {l, not_expr()});
    }
    return l;
  }
  ExprPtr not_expr() {
    if (accept_word("NOT")) {
      Nest nest(*this);
      return make(Expr::Not, "NOT", {not_expr()});
    }
    return comparison();
  }
  ExprPtr comparison() {
    auto l = additive();
    static const char* ops[] = {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
    for (auto op : ops) {
      if (symbol(op)) {
        ++i_;
        return make(Expr::Binary, op, {l, additive()});
      }
    }
    if (accept_word("IS")) {
      bool negate = accept_word("NOT");
      expect_word("NULL");
      auto e = make(Expr::Binary, "IS NULL", {l});
      return negate ? make(Expr::Not, "NOT", {e}) : e;
    }
    return l;
  }
  ExprPtr additive() {
    auto l = unary();
    Chain chain(*this);
    while (symbol("+") || symbol("-")) {
      chain.link();
      std::string op = next().text;
      l = make(Expr::Binary, op, {l, unary()});
    }
    return l;
  }
  ExprPtr unary() {
    if (accept_symbol("-")) {
      Nest nest(*this);
      return make(Expr::Negate, "-", {unary()});
    }
    if (accept_symbol("+")) {
      Nest nest(*this);
      return unary();
    }
    return primary();
  }
  ExprPtr primary() {
    const SqlToken& t = peek();
    switch (t.kind) {
      case Tok::String:
      case Tok::NString:
        ++i_;
        return make(Expr::String, t.text);
      case Tok::Number:
        ++i_;
        return make(Expr::Number, t.text);
      case Tok::Variable:
        ++i_;
        return make(Expr::Variable, t.text);
      case Tok::Symbol:
        if (t.text == "(") {
          ++i_;
          Nest nest(*this);
          auto e = expr();
          expect_symbol(")");
          return e;
        }
        fail();
      case Tok::Ident:
        if (iequals(t.text, "NULL")) {
          ++i_;
          return make(Expr::Null, "NULL");
        }
        if (iequals(t.text, "SYSTEM_USER") || iequals(t.text, "CURRENT_USER") ||
            iequals(t.text, "SESSION_USER") || iequals(t.text, "USER")) {
          ++i_;
          return make(Expr::Function, ascii_upper(t.text));
        }
        if (symbol("(", 1) && !is_reserved_word(t.text)) {
          i_ += 2;
          Nest nest(*this);
          std::vector<ExprPtr> args;
          if (!accept_symbol(")")) {
            do {
              if (accept_symbol("*")) {
                args.push_back(make(Expr::Column, "*"));
                continue;
              }
              args.push_back(expr());
            } while (accept_symbol(","));
            expect_symbol(")");
          }
          return make(Expr::Function, ascii_upper(t.text), args);
        }
        [[fallthrough]];
      case Tok::QuotedIdent: {
        auto parts = multipart();
        return make(Expr::Column, parts.back());
      }
      case Tok::End:
        fail();
    }
    fail();
  }

  // ---- CREATE DATABASE ----
  CreateDatabase create_database() {
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

  double size_value() {
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

  FileSpec filespec() {
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
  DropDatabase drop_database() {
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
  std::string disk_value() {
    expect_symbol("=");
    const auto& v = peek();
    if (v.kind == Tok::String || v.kind == Tok::NString || v.kind == Tok::Variable) {
      ++i_;
      return v.text;
    }
    fail();
  }

  Restore restore() {
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
    bool first_device = true;
    do {
      if (accept_word("DISK")) {
        std::string d = disk_value();
        if (first_device) r.disk = d;
      } else if (accept_word("TAPE") || accept_word("URL")) {
        disk_value();
      } else {
        name();  // a logical backup device
      }
      first_device = false;
    } while (accept_symbol(","));
    if (accept_word("WITH")) {
      do {
        const auto& t = peek();
        if (t.kind != Tok::Ident) fail();
        std::string opt = ascii_upper(t.text);
        ++i_;
        if (opt == "FILE") {
          expect_symbol("=");
          if (peek().kind != Tok::Number) fail();
          r.file = static_cast<int>(number(next(), INT32_MAX));
        } else if (opt == "STATS") {
          r.stats = 10;
          if (accept_symbol("=")) {
            if (peek().kind != Tok::Number) fail();
            r.stats = static_cast<int>(number(next(), INT32_MAX));
          }
        } else if (opt == "RECOVERY") {
          r.recovery = true;
        } else if (opt == "NORECOVERY") {
          r.recovery = false;
        } else if (opt == "REPLACE") {
          r.replace = true;
        } else if (opt == "MOVE") {
          std::string logical = string_value();
          expect_word("TO");
          r.moves.emplace_back(logical, string_value());
        } else if (opt == "NOUNLOAD" || opt == "UNLOAD" || opt == "RESTART" || opt == "CHECKSUM" ||
                   opt == "NO_CHECKSUM" || opt == "CONTINUE_AFTER_ERROR" ||
                   opt == "STOP_ON_ERROR" || opt == "KEEP_REPLICATION" || opt == "REWIND" ||
                   opt == "NOREWIND" || opt == "PARTIAL" || opt == "RESTRICTED_USER") {
        } else if (opt == "STANDBY" || opt == "PASSWORD" || opt == "MEDIANAME" ||
                   opt == "MEDIAPASSWORD" || opt == "BLOCKSIZE" || opt == "BUFFERCOUNT" ||
                   opt == "MAXTRANSFERSIZE") {
          expect_symbol("=");
          next();
        } else {
          ServerMessage m = syntax_message(155, line_of(sql_, t.pos),
                                           "'" + t.text + "' is not a recognized RESTORE option.");
          throw SqlError({m});
        }
      } while (accept_symbol(","));
    }
    return r;
  }

  // ---- EXEC ----
  Exec exec() {
    Exec e;
    auto parts = multipart();
    e.proc = parts.back();
    if (at_end() || symbol(";")) return e;
    if (peek().kind == Tok::Ident && is_reserved_word(peek().text) && !word("DEFAULT") &&
        !word("NULL"))
      return e;  // the next statement starts
    do {
      ExecArg a;
      if (peek().kind == Tok::Variable && symbol("=", 1)) {
        a.name = next().text;
        ++i_;
      }
      const SqlToken& v = peek();
      switch (v.kind) {
        case Tok::String:
        case Tok::NString:
          a.kind = ExecArg::String;
          a.text = v.text;
          ++i_;
          break;
        case Tok::Number:
          a.kind = ExecArg::Number;
          a.text = v.text;
          ++i_;
          break;
        case Tok::Variable:
          a.kind = ExecArg::Variable;
          a.text = v.text;
          ++i_;
          break;
        case Tok::Symbol:
          if (v.text == "-" && peek(1).kind == Tok::Number) {
            a.kind = ExecArg::Number;
            a.text = "-" + peek(1).text;
            i_ += 2;
            break;
          }
          fail();
        case Tok::QuotedIdent:
          a.kind = ExecArg::String;
          a.text = v.text;
          ++i_;
          break;
        case Tok::Ident:
          if (iequals(v.text, "NULL")) {
            a.kind = ExecArg::Null;
          } else if (iequals(v.text, "DEFAULT")) {
            a.kind = ExecArg::Default;
          } else if (is_reserved_word(v.text)) {
            fail();
          } else {
            a.kind = ExecArg::String;  // a bare word passes as a string
            a.text = v.text;
          }
          ++i_;
          break;
        case Tok::End:
          fail();
      }
      if (!accept_word("OUTPUT")) accept_word("OUT");
      e.args.push_back(a);
    } while (accept_symbol(","));
    if (!at_end() && !symbol(";") && !(peek().kind == Tok::Ident && is_reserved_word(peek().text)))
      fail();
    return e;
  }

  // ---- SET ----
  SetOption set_option() {
    expect_word("SET");
    SetOption s;
    if (peek().kind == Tok::Variable) fail();
    if (accept_word("TRANSACTION")) {
      expect_word("ISOLATION");
      expect_word("LEVEL");
      s.options.push_back("TRANSACTION ISOLATION LEVEL");
      std::string level;
      while (peek().kind == Tok::Ident &&
             (word("READ") || word("COMMITTED") || word("UNCOMMITTED") || word("REPEATABLE") ||
              word("SERIALIZABLE") || word("SNAPSHOT"))) {
        level += (level.empty() ? "" : " ") + ascii_upper(next().text);
      }
      if (level.empty()) fail();
      s.value = level;
      return s;
    }
    do {
      if (peek().kind != Tok::Ident) fail();
      s.options.push_back(ascii_upper(next().text));
    } while (accept_symbol(","));
    const SqlToken& v = peek();
    if (v.kind == Tok::Ident || v.kind == Tok::Number || v.kind == Tok::String ||
        v.kind == Tok::NString || v.kind == Tok::QuotedIdent) {
      s.value = v.kind == Tok::Ident ? ascii_upper(v.text) : v.text;
      ++i_;
    } else if (symbol("-") && peek(1).kind == Tok::Number) {
      s.value = "-" + peek(1).text;
      i_ += 2;
    } else {
      fail();
    }
    return s;
  }

  const std::string& sql_;
  std::vector<SqlToken> toks_;
  size_t i_ = 0;
  int depth_ = 0;
};

}  // namespace

std::vector<Statement> parse_batch(const std::string& sql) { return Parser(sql).batch(); }

std::vector<std::string> parse_param_declarations(const std::string& decl) {
  std::vector<std::string> names;
  std::vector<SqlToken> toks;
  try {
    toks = tokenize(decl);
  } catch (const SqlError&) {
    return names;
  }
  int depth = 0;
  bool expect_name = true;
  for (const auto& t : toks) {
    if (t.kind == Tok::Symbol && t.text == "(") ++depth;
    if (t.kind == Tok::Symbol && t.text == ")") --depth;
    if (depth == 0 && t.kind == Tok::Symbol && t.text == ",") {
      expect_name = true;
      continue;
    }
    if (expect_name && t.kind == Tok::Variable) names.push_back(t.text);
    expect_name = false;
  }
  return names;
}

}  // namespace standin
