// Expressions: literals, variables, the @@ globals, comparisons and the built-in
// functions the installer's queries call.

#include "executor_internal.h"

#include <algorithm>

namespace standin::detail {

std::string Request::text_of(const Cell& c) {
  if (auto s = std::get_if<std::string>(&c)) return *s;
  if (auto n = std::get_if<int64_t>(&c)) return std::to_string(*n);
  return {};
}

bool Request::truthy(const Cell& c) {
  if (auto n = std::get_if<int64_t>(&c)) return *n != 0;
  return false;
}

std::optional<int64_t> Request::as_int(const Cell& c) {
  if (auto n = std::get_if<int64_t>(&c)) return *n;
  if (auto s = std::get_if<std::string>(&c)) {
    try {
      size_t used = 0;
      int64_t v = std::stoll(*s, &used);
      if (used == s->size()) return v;
    } catch (...) {
    }
  }
  return std::nullopt;
}

int Request::compare(const Cell& a, const Cell& b) {
  if (std::holds_alternative<int64_t>(a) || std::holds_alternative<int64_t>(b)) {
    auto x = as_int(a), y = as_int(b);
    if (!x || !y) {
      const Cell& bad = x ? b : a;
      throw SqlError({sql_message(245, 16, 1,
                                  "Conversion failed when converting the nvarchar value '" +
                                      text_of(bad) + "' to data type int.")});
    }
    return *x < *y ? -1 : *x > *y ? 1 : 0;
  }
  std::string x = text_of(a), y = text_of(b);
  if (names_equal(x, y)) return 0;
  if (!st_.case_sensitive()) {
    x = sql_lower(x);
    y = sql_lower(y);
  }
  return x < y ? -1 : 1;
}

Cell Request::global(const std::string& name) {
  std::string n = ascii_upper(name);
  if (n == "@@VERSION") return st_.settings().profile.version_text;
  if (n == "@@SPID") return static_cast<int64_t>(s_.spid);
  if (n == "@@SERVERNAME") return ex_.server_name();
  if (n == "@@SERVICENAME") return std::string("MSSQLSERVER");
  if (n == "@@LANGUAGE") return s_.language;
  if (n == "@@TRANCOUNT") return static_cast<int64_t>(s_.trancount);
  if (n == "@@MAX_PRECISION") return int64_t{38};
  if (n == "@@TEXTSIZE") return int64_t{2147483647};
  if (n == "@@ERROR" || n == "@@ROWCOUNT") return int64_t{0};
  if (n == "@@OPTIONS") return int64_t{s_.nocount ? 5176 : 5176 - 512};
  if (n == "@@DATEFIRST") return int64_t{7};
  if (n == "@@LOCK_TIMEOUT") return int64_t{-1};
  if (n == "@@MICROSOFTVERSION") {
    const Profile& p = st_.settings().profile;
    return int64_t{p.id_major} << 24 | int64_t{p.id_minor} << 16 | p.id_build;
  }
  if (n == "@@MAX_CONNECTIONS") return int64_t{32767};
  throw SqlError({sql_message(137, 15, 2, "Must declare the scalar variable \"" + name + "\".")});
}

Cell Request::server_property(const std::string& name) {
  std::string n = sql_lower(name);
  if (n == "productversion") return st_.settings().profile.product_version();
  if (n == "productmajorversion") return std::to_string(st_.settings().profile.id_major);
  if (n == "productlevel") return std::string("RTM");
  if (n == "edition") return std::string("Developer Edition (64-bit)");
  if (n == "engineedition") return int64_t{3};
  if (n == "servername" || n == "machinename") return ex_.server_name();
  if (n == "collation") return st_.collation();
  if (n == "isintegratedsecurityonly") return int64_t{st_.settings().windows_auth_only ? 1 : 0};
  if (n == "isclustered" || n == "issingleuser") return int64_t{0};
  return {};
}

Cell Request::eval(const ExprPtr& e, const Params& params, const std::map<std::string, Cell>* row) {
  switch (e->kind) {
    case Expr::String:
      return e->text;
    case Expr::Number: {
      try {
        return static_cast<int64_t>(std::stoll(e->text));
      } catch (...) {
        return e->text;
      }
    }
    case Expr::Null:
      return {};
    case Expr::Variable: {
      if (e->text.rfind("@@", 0) == 0) return global(e->text);
      auto it = params.find(sql_lower(e->text));
      if (it == params.end())
        throw SqlError(
            {sql_message(137, 15, 2, "Must declare the scalar variable \"" + e->text + "\".")});
      if (!it->second) return {};
      return *it->second;
    }
    case Expr::Column: {
      if (row) {
        auto it = row->find(sql_lower(e->text));
        if (it != row->end()) return it->second;
      }
      throw SqlError({sql_message(207, 16, 1, "Invalid column name '" + e->text + "'.")});
    }
    case Expr::Negate: {
      auto v = as_int(eval(e->args[0], params, row));
      if (!v) return {};
      return -*v;
    }
    case Expr::Not: {
      Cell v = eval(e->args[0], params, row);
      return int64_t{truthy(v) ? 0 : 1};
    }
    case Expr::Binary:
      return binary(e, params, row);
    case Expr::Function:
      return function(e, params, row);
  }
  return {};
}

Cell Request::binary(const ExprPtr& e, const Params& params,
                     const std::map<std::string, Cell>* row) {
  const std::string& op = e->text;
  if (op == "IS NULL") return int64_t{is_null(eval(e->args[0], params, row)) ? 1 : 0};
  if (op == "AND")
    return int64_t{truthy(eval(e->args[0], params, row)) && truthy(eval(e->args[1], params, row))};
  if (op == "OR")
    return int64_t{truthy(eval(e->args[0], params, row)) || truthy(eval(e->args[1], params, row))};
  Cell a = eval(e->args[0], params, row);
  Cell b = eval(e->args[1], params, row);
  if (op == "+" || op == "-") {
    if (is_null(a) || is_null(b)) return {};
    if (op == "+" &&
        (std::holds_alternative<std::string>(a) && std::holds_alternative<std::string>(b)))
      return text_of(a) + text_of(b);
    auto x = as_int(a), y = as_int(b);
    if (!x || !y) return {};
    return op == "+" ? *x + *y : *x - *y;
  }
  if (is_null(a) || is_null(b)) return int64_t{0};
  int c = compare(a, b);
  bool r = op == "="                    ? c == 0
           : (op == "<>" || op == "!=") ? c != 0
           : op == "<" || op == "!>"    ? (op == "<" ? c < 0 : c <= 0)
           : op == ">" || op == "!<"    ? (op == ">" ? c > 0 : c >= 0)
           : op == "<="                 ? c <= 0
                                        : c >= 0;
  return int64_t{r ? 1 : 0};
}

Cell Request::function(const ExprPtr& e, const Params& params,
                       const std::map<std::string, Cell>* row) {
  const std::string& f = e->text;
  auto arg = [&](size_t i) -> Cell {
    if (i >= e->args.size()) return {};
    return eval(e->args[i], params, row);
  };
  auto need = [&](size_t n) {
    if (e->args.size() != n)
      throw SqlError({sql_message(
          174, 15, 1,
          "The " + sql_lower(f) + " function requires " + std::to_string(n) + " argument(s).")});
  };
  if (f == "LOWER" || f == "UPPER") {
    need(1);
    Cell v = arg(0);
    if (is_null(v)) return {};
    return f == "LOWER" ? sql_lower(text_of(v)) : sql_upper(text_of(v));
  }
  if (f == "LTRIM" || f == "RTRIM") {
    need(1);
    Cell v = arg(0);
    if (is_null(v)) return {};
    std::string t = text_of(v);
    if (f == "LTRIM")
      t.erase(0,
              t.find_first_not_of(' ') == std::string::npos ? t.size() : t.find_first_not_of(' '));
    else
      t.erase(t.find_last_not_of(' ') + 1);
    return t;
  }
  if (f == "LEN") {
    need(1);
    Cell v = arg(0);
    if (is_null(v)) return {};
    std::string t = text_of(v);
    t.erase(t.find_last_not_of(' ') + 1);
    return static_cast<int64_t>(utf8_to_utf16(t).size());
  }
  if (f == "ISNULL" || f == "COALESCE") {
    for (size_t i = 0; i < e->args.size(); ++i) {
      Cell v = arg(i);
      if (!is_null(v)) return v;
    }
    return {};
  }
  if (f == "SUSER_SNAME" || f == "SUSER_NAME" || f == "SYSTEM_USER" || f == "SESSION_USER")
    return s_.login;
  if (f == "USER_NAME" || f == "CURRENT_USER" || f == "USER") {
    std::lock_guard<std::mutex> lock(st_.mutex);
    Database* db = st_.find_database(s_.database);
    return std::string(db && names_equal(db->owner, s_.login) ? "dbo"
                       : st_.has_role(s_.login, "sysadmin")   ? "dbo"
                                                              : "guest");
  }
  if (f == "DB_NAME") {
    if (e->args.empty()) return s_.database;
    auto id = as_int(arg(0));
    std::lock_guard<std::mutex> lock(st_.mutex);
    if (!id || *id < 1 || *id > static_cast<int64_t>(st_.databases().size())) return {};
    return st_.databases()[static_cast<size_t>(*id - 1)].name;
  }
  if (f == "DB_ID") {
    std::string name = e->args.empty() ? s_.database : text_of(arg(0));
    std::lock_guard<std::mutex> lock(st_.mutex);
    for (size_t i = 0; i < st_.databases().size(); ++i)
      if (names_equal(st_.databases()[i].name, name)) return static_cast<int64_t>(i + 1);
    return {};
  }
  if (f == "IS_SRVROLEMEMBER") {
    std::string role = sql_lower(text_of(arg(0)));
    std::string login = e->args.size() > 1 ? text_of(arg(1)) : s_.login;
    std::lock_guard<std::mutex> lock(st_.mutex);
    const auto& roles = fixed_server_roles();
    if (std::find(roles.begin(), roles.end(), role) == roles.end()) return {};
    Login* l = st_.find_login(login);
    if (!l) return {};
    return int64_t{l->roles.count(role) > 0 ? 1 : 0};
  }
  if (f == "SERVERPROPERTY") return server_property(text_of(arg(0)));
  if (f == "COUNT") return int64_t{1};  // counted by the caller
  throw SqlError({sql_message(
      195, 15, 10, "'" + sql_lower(f) + "' is not a recognized built-in function name.")});
}

}  // namespace standin::detail
