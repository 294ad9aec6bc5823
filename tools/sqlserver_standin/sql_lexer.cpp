// The lexer: a batch into tokens, with SQL Server's errors for unclosed quotes
// and overlong names; and the word helpers the parser shares.

#include "sql.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "sql_parser.h"

namespace standin {

namespace detail {

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

}  // namespace detail

using detail::line_of;
using detail::syntax_message;

namespace {

bool ident_start(unsigned char c) { return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80; }
bool ident_part(unsigned char c) {
  return std::isalnum(c) || c == '_' || c == '@' || c == '#' || c == '$' || c >= 0x80;
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
  // The text up to `close`, where a doubled `close` stands for itself; an
  // unclosed text is SQL Server's error for the token that began at `start`.
  auto delimited = [&](char close, size_t start) {
    std::string v;
    for (;;) {
      if (i >= n) unclosed(sql, start, v);
      if (sql[i] == close) {
        if (at(i + 1) != static_cast<unsigned char>(close)) break;
        ++i;
      }
      v.push_back(sql[i++]);
    }
    ++i;
    return v;
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
      t.text = delimited('\'', t.pos);
    } else if (c == '[' || c == '"') {
      char close = c == '[' ? ']' : '"';
      t.kind = Tok::QuotedIdent;
      ++i;
      const std::string v = delimited(close, t.pos);
      t.text = v;
      if (c == '[' && v.empty()) {
        ServerMessage m = syntax_message(
            1038, line_of(sql, t.pos),
            "An object or column name is missing or empty. For SELECT INTO statements, verify "
            "each column has a name. For other statements, look for empty alias names. Aliases "
            "defined as \"\" or [] are not allowed. Change the alias to a valid name.");
        m.state = 4;
        throw SqlError({m});
      }
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
