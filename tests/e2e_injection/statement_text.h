#pragma once

// Statement texts as the server reads them, worked out here on their own:
// a template is the fixed text of a statement with "{}" where a value goes,
// inside '...' (a string literal) or [...] (a bracketed name).

#include <optional>
#include <string>
#include <vector>

namespace dbsetup::injection {

struct Statement {
  std::string shape;                     // the fixed text, "{}" for every value
  std::vector<std::string> values;       // in the order they stand in the text
  std::optional<std::string> parameter;  // the existence query's @P1
  bool operator==(const Statement&) const = default;
};

// The text the server must receive: each value quoted the T-SQL way, ' doubled
// inside a literal and ] doubled inside brackets.
inline std::string fill(const Statement& s) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < s.shape.size(); ++i) {
    if (s.shape.compare(i, 2, "{}") != 0) {
      out += s.shape[i];
      continue;
    }
    const char quote = i > 0 && s.shape[i - 1] == '[' ? ']' : '\'';
    for (char c : s.values.at(next)) {
      out += c;
      if (c == quote) out += c;
    }
    ++next;
    ++i;
  }
  return out;
}

// Reads a statement back the way the server's lexer does: every string
// literal and bracketed name becomes "{}" in the shape and its value (quotes
// undoubled) goes to the list. Comment marks and separators outside them stay
// in the shape, where they would not match a template. nullopt when a literal
// or a name is never closed.
inline std::optional<Statement> read_back(const std::string& text) {
  Statement s;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\'' && c != '[') {
      s.shape += c;
      continue;
    }
    const char close = c == '[' ? ']' : '\'';
    std::string value;
    for (++i;; ++i) {
      if (i >= text.size()) return std::nullopt;
      if (text[i] == close) {
        if (i + 1 < text.size() && text[i + 1] == close) {
          value += close;
          ++i;
          continue;
        }
        break;
      }
      value += text[i];
    }
    s.shape += c;
    s.shape += "{}";
    s.shape += close;
    s.values.push_back(std::move(value));
  }
  return s;
}

}  // namespace dbsetup::injection
