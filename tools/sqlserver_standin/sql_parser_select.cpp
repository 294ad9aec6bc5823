// SELECT and expressions: precedence from OR down to primaries, each nesting
// level counted against the depth limit.

#include "sql_parser.h"

#include <cctype>

namespace standin {

namespace detail {

Select Parser::select() {
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
ExprPtr Parser::make(Expr::Kind k, std::string text, std::vector<ExprPtr> args) {
  auto e = std::make_shared<Expr>();
  e->kind = k;
  e->text = std::move(text);
  e->args = std::move(args);
  return e;
}

ExprPtr Parser::or_expr() {
  auto l = and_expr();
  Chain chain(*this);
  while (accept_word("OR")) {
    chain.link();
    l = make(Expr::Binary, "OR", {l, and_expr()});
  }
  return l;
}

ExprPtr Parser::and_expr() {
  auto l = not_expr();
  Chain chain(*this);
  while (accept_word("AND")) {
    chain.link();
    l = make(Expr::Binary, "AND", {l, not_expr()});
  }
  return l;
}

ExprPtr Parser::not_expr() {
  if (accept_word("NOT")) {
    Nest nest(*this);
    return make(Expr::Not, "NOT", {not_expr()});
  }
  return comparison();
}

ExprPtr Parser::comparison() {
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

ExprPtr Parser::additive() {
  auto l = unary();
  Chain chain(*this);
  while (symbol("+") || symbol("-")) {
    chain.link();
    std::string op = next().text;
    l = make(Expr::Binary, op, {l, unary()});
  }
  return l;
}

ExprPtr Parser::unary() {
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

ExprPtr Parser::primary() {
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

}  // namespace detail

}  // namespace standin
