// The parser: token helpers, syntax errors, the statement dispatch and the
// statements without a file of their own (EXEC, SET, transactions, USE, IF).

#include "sql_parser.h"

namespace standin {

namespace detail {

std::vector<Statement> Parser::batch() {
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

void Parser::deeper() {
  if (++depth_ > kMaxNesting)
    throw SqlError({syntax_message(191, line_of(sql_, peek().pos),
                                   "Some part of your SQL statement is nested too deeply. "
                                   "Rewrite the query or break it up into smaller queries.")});
}

bool Parser::word(const std::string& w, size_t k) const {
  return peek(k).kind == Tok::Ident && iequals(peek(k).text, w);
}

bool Parser::symbol(const std::string& s, size_t k) const {
  return peek(k).kind == Tok::Symbol && peek(k).text == s;
}

void Parser::fail_at(const SqlToken& t) const {
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

void Parser::expect_word(const std::string& w) {
  if (!word(w)) fail();
  ++i_;
}

void Parser::expect_symbol(const std::string& s) {
  if (!symbol(s)) fail();
  ++i_;
}

bool Parser::accept_word(const std::string& w) {
  if (!word(w)) return false;
  ++i_;
  return true;
}

bool Parser::accept_symbol(const std::string& s) {
  if (!symbol(s)) return false;
  ++i_;
  return true;
}

// A name: bare (not a reserved word) or quoted.
std::string Parser::name() {
  const auto& t = peek();
  if (t.kind == Tok::QuotedIdent || (t.kind == Tok::Ident && !is_reserved_word(t.text))) {
    ++i_;
    return t.text;
  }
  fail();
}

// a.b.c, a..c; returns the parts (empty ones kept).
std::vector<std::string> Parser::multipart() {
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
double Parser::number(const SqlToken& t, double max) const {
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

std::string Parser::string_value() {
  const auto& t = peek();
  if (t.kind == Tok::String || t.kind == Tok::NString) {
    ++i_;
    return t.text;
  }
  fail();
}

Statement Parser::statement(bool first) {
  const SqlToken& t = peek();
  Statement s;
  s.keyword = t.kind == Tok::Ident ? ascii_upper(t.text) : t.text;
  if (t.kind != Tok::Ident && t.kind != Tok::QuotedIdent) fail();
  std::string w = ascii_upper(t.text);
  if (t.kind == Tok::QuotedIdent) w.clear();
  if (w == "SELECT") {
    s.body = select();
  } else if (w == "CREATE" && word("LOGIN", 1)) {
    i_ += 2;
    s.keyword = "CREATE LOGIN";
    s.body = create_login();
  } else if (w == "ALTER" && word("LOGIN", 1)) {
    i_ += 2;
    s.keyword = "ALTER LOGIN";
    s.body = alter_login();
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
  } else if (w == "BACKUP") {
    s.keyword = "BACKUP DATABASE";
    s.body = backup();
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

void Parser::skip_tran_name() {
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

// ---- EXEC ----
Exec Parser::exec() {
  Exec e;
  auto parts = multipart();
  e.proc = parts.back();
  for (size_t k = 0; k < parts.size(); ++k) e.written += (k ? "." : "") + parts[k];
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
SetOption Parser::set_option() {
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
      if (!level.empty()) level += ' ';
      level += ascii_upper(next().text);
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

}  // namespace detail

std::vector<Statement> parse_batch(const std::string& sql) { return detail::Parser(sql).batch(); }

}  // namespace standin
