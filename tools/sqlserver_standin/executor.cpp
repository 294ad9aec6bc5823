#include "executor.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace standin {

ServerMessage sql_message(int32_t number, uint8_t cls, uint8_t state, std::string text,
                          std::string proc, int32_t line) {
  ServerMessage m;
  m.number = number;
  m.cls = cls;
  m.state = state;
  m.text = std::move(text);
  m.proc = std::move(proc);
  m.line = line;
  return m;
}

// ---- controls ------------------------------------------------------------------------

Controls::Failure Controls::parse_failure(const std::string& option, uint8_t cls) {
  static const std::regex form(R"(^([\s\S]*?):(\d+):([\s\S]*)$)");
  std::smatch m;
  if (!std::regex_match(option, m, form)) throw std::invalid_argument("expected REGEX:NUMBER:TEXT");
  return Failure{std::regex(m[1].str(), std::regex::ECMAScript | std::regex::icase),
                 sql_message(std::stoi(m[2].str()), cls, 1, m[3].str())};
}

namespace {

// "N:REST" -> N-1 matches to skip, and REST.
std::pair<int, std::string> split_nth(const std::string& option) {
  const size_t colon = option.find(':');
  if (colon == 0 || colon == std::string::npos || option.find_first_not_of("0123456789") != colon)
    throw std::invalid_argument("expected N:...");
  const int n = std::stoi(option.substr(0, colon));
  if (n < 1) throw std::invalid_argument("N counts from 1");
  return {n - 1, option.substr(colon + 1)};
}

}  // namespace

// The plain forms fire at the first match.
void Controls::add_failure(const std::string& option) { add_failure_nth("1:" + option); }

void Controls::add_drop(const std::string& regex) { add_drop_nth("1:" + regex); }

void Controls::add_failure_nth(const std::string& option) {
  auto [skip, rest] = split_nth(option);
  Failure f = parse_failure(rest, 16);
  f.skip = skip;
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.push_back(std::move(f));
}

void Controls::add_drop_nth(const std::string& option) {
  auto [skip, rest] = split_nth(option);
  Drop d{std::regex(rest, std::regex::ECMAScript | std::regex::icase), skip};
  std::lock_guard<std::mutex> lock(mutex_);
  drops_.push_back(std::move(d));
}

void Controls::add_login_failure(const std::string& option) {
  // Logon errors are class 14, as SQL Server's 18456.
  Failure f = parse_failure(option, 14);
  std::lock_guard<std::mutex> lock(mutex_);
  login_failures_.push_back(std::move(f));
}

void Controls::add_login_drop(const std::string& regex) {
  std::lock_guard<std::mutex> lock(mutex_);
  login_drops_.push_back(Drop{std::regex(regex, std::regex::ECMAScript | std::regex::icase)});
}

std::optional<ServerMessage> Controls::take(std::vector<Failure>& list, const std::string& text) {
  for (auto& f : list) {
    if (f.used || !std::regex_search(text, f.pattern)) continue;
    if (f.seen++ < f.skip) continue;
    f.used = true;
    return f.message;
  }
  return std::nullopt;
}

bool Controls::drop(const std::vector<Drop>& list, const std::string& text) {
  bool hit = false;
  for (const auto& d : list)
    if (std::regex_search(text, d.pattern) && d.seen++ >= d.skip) hit = true;
  return hit;
}

std::optional<ServerMessage> Controls::take_failure(const std::string& statement) {
  std::lock_guard<std::mutex> lock(mutex_);
  return take(failures_, statement);
}

bool Controls::should_drop(const std::string& statement) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return drop(drops_, statement);
}

std::optional<ServerMessage> Controls::take_login_failure(const std::string& login) {
  std::lock_guard<std::mutex> lock(mutex_);
  return take(login_failures_, login);
}

bool Controls::should_drop_login(const std::string& login) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return drop(login_drops_, login);
}

// ---- outcome ----------------------------------------------------------------------------

bool Outcome::failed() const {
  return std::any_of(messages.begin(), messages.end(),
                     [](const ServerMessage& m) { return m.is_error(); });
}
std::vector<int32_t> Outcome::errors() const {
  std::vector<int32_t> v;
  for (const auto& m : messages)
    if (m.is_error()) v.push_back(m.number);
  return v;
}
std::vector<int32_t> Outcome::infos() const {
  std::vector<int32_t> v;
  for (const auto& m : messages)
    if (!m.is_error()) v.push_back(m.number);
  return v;
}

namespace {

constexpr uint16_t kCmdSelect = 0xC1;
constexpr uint16_t kCmdExecute = 0xE0;

const char* kVersion =
    "Microsoft SQL Server 2019 (RTM) - 15.0.2000.5 (X64) \n\tSep 24 2019 13:48:23 \n\tCopyright "
    "(C) "
    "2019 Microsoft Corporation\n\tDeveloper Edition (64-bit) on Linux (SQL Server stand-in)";

std::string q(const std::string& s) { return "'" + s + "'"; }

// The result of one statement.
struct Result {
  bool error = false;
  bool count = false;
  uint64_t rows = 0;
  uint16_t curcmd = 0;
  bool proc = false;
};

struct Cancelled {};

using Params = std::map<std::string, std::optional<std::string>>;  // lower-case name -> value

// A table that SELECT can read.
struct Table {
  std::vector<Column> columns;
  std::vector<std::map<std::string, Cell>> rows;  // lower-case column name -> value
};

std::string fmt3(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

// ---- one request ----------------------------------------------------------------------

class Request {
 public:
  Request(Executor& ex, Session& s, Sink& sink, Outcome& out)
      : ex_(ex), st_(ex.state()), s_(s), sink_(sink), out_(out) {}

  void run_batch(const std::string& sql) {
    if (auto f = ex_.controls().take_failure(sql)) {
      emit(*f);
      sink_.done(kTokDone, kDoneError, 0, 0);
      return;
    }
    std::vector<Statement> stmts;
    try {
      stmts = parse_batch(sql);
    } catch (const SqlError& e) {
      for (const auto& m : e.messages) emit(m);
      sink_.done(kTokDone, kDoneError, 0, 0);
      return;
    }
    if (stmts.empty()) {
      sink_.done(kTokDone, kDoneFinal, 0, 0);
      return;
    }
    try {
      run_statements(stmts, false);
    } catch (const Cancelled&) {
      out_.cancelled = true;
    }
  }

  void run_rpc(const RpcRequest& req) {
    try {
      std::string name = sql_lower(req.proc_name);
      auto dot = name.rfind('.');
      if (dot != std::string::npos) name = name.substr(dot + 1);
      int ret = 0;
      bool error = false;
      std::optional<int32_t> handle_out;
      // Parameters after the fixed ones, by name or in declared order.
      auto bind_values = [&](size_t first, const std::vector<std::string>& declared) {
        Params params;
        size_t positional = 0;
        for (size_t i = first; i < req.params.size(); ++i) {
          const auto& p = req.params[i];
          if (!p.name.empty())
            params[sql_lower(p.name)] = p.value;
          else if (positional < declared.size())
            params[sql_lower(declared[positional++])] = p.value;
        }
        return params;
      };
      auto text = [&](size_t i) {
        return i < req.params.size() ? req.params[i].value.value_or("") : std::string();
      };
      if (name == "sp_executesql") {
        auto declared = parse_param_declarations(text(1));
        error = executesql(text(0), bind_values(2, declared), ret);
      } else if (name == "sp_prepexec" || name == "sp_prepare") {
        auto declared = parse_param_declarations(text(1));
        int32_t handle = s_.next_handle++;
        s_.prepared[handle] = {text(2), declared};
        handle_out = handle;
        if (name == "sp_prepexec") error = executesql(text(2), bind_values(3, declared), ret);
      } else if (name == "sp_execute" || name == "sp_unprepare") {
        int32_t handle = 0;
        try {
          handle = static_cast<int32_t>(std::stol(text(0)));
        } catch (...) {
        }
        auto it = s_.prepared.find(handle);
        if (it == s_.prepared.end()) {
          emit(sql_message(
              8179, 16, 4,
              "Could not find prepared statement with handle " + std::to_string(handle) + "."));
          error = true;
          ret = 1;
        } else if (name == "sp_unprepare") {
          s_.prepared.erase(it);
        } else {
          auto [stmt, declared] = it->second;
          error = executesql(stmt, bind_values(1, declared), ret);
        }
      } else {
        Exec e;
        e.proc = req.proc_name;
        Params params;
        for (const auto& p : req.params) {
          ExecArg a;
          a.name = p.name;
          a.kind = p.value ? ExecArg::String : ExecArg::Null;
          a.text = p.value.value_or("");
          e.args.push_back(a);
        }
        Result r = exec(e, params, &ret);
        error = r.error;
      }
      sink_.return_status(ret);
      if (handle_out)
        sink_.return_value(0, req.params.empty() ? "" : req.params[0].name, *handle_out);
      sink_.done(kTokDoneProc, error ? kDoneError : kDoneFinal, 0, 0);
    } catch (const Cancelled&) {
      out_.cancelled = true;
    }
  }

 private:
  // ---- output helpers ----
  void emit(const ServerMessage& m) {
    sink_.message(m);
    out_.messages.push_back(m);
    if (m.is_error()) error_ = true;
  }
  void emit_rows(const ResultSet& rs) {
    sink_.result_set(rs);
    out_.rows += rs.rows.size();
  }
  bool names_equal(const std::string& a, const std::string& b) const {
    return st_.names_equal(a, b);
  }

  // ---- statement lists ----
  bool run_statements(const std::vector<Statement>& stmts, bool in_proc,
                      const Params& params = {}) {
    bool any_error = false;
    for (size_t i = 0; i < stmts.size(); ++i) {
      bool last = i + 1 == stmts.size();
      Result r = execute(stmts[i], params);
      any_error |= r.error;
      uint16_t more = (in_proc || !last) ? kDoneMore : 0;
      if (r.proc) {
        sink_.done(in_proc ? kTokDoneInProc : kTokDoneProc, (r.error ? kDoneError : 0) | more,
                   kCmdExecute, 0);
      } else {
        uint16_t status = (r.error ? kDoneError : 0) | more;
        if (r.count && !s_.nocount) status |= kDoneCount;
        if (s_.trancount > 0) status |= kDoneInXact;
        sink_.done(in_proc ? kTokDoneInProc : kTokDone, status, r.curcmd, r.rows);
      }
    }
    return any_error;
  }

  Result execute(const Statement& stmt, const Params& params) {
    error_ = false;
    Result r;
    try {
      r = std::visit([&](const auto& body) { return run(body, params); }, stmt.body);
    } catch (const SqlError& e) {
      for (const auto& m : e.messages) emit(m);
    }
    r.error = r.error || error_;
    return r;
  }

  bool executesql(const std::string& stmt, const Params& params, int& ret) {
    if (auto f = ex_.controls().take_failure(stmt)) {
      emit(*f);
      ret = 1;
      return true;
    }
    std::vector<Statement> stmts;
    try {
      stmts = parse_batch(stmt);
    } catch (const SqlError& e) {
      for (const auto& m : e.messages) emit(m);
      ret = 1;
      return true;
    }
    bool err = run_statements(stmts, true, params);
    ret = err ? 1 : 0;
    return err;
  }

  // ---- transactions ----
  void begin_transaction() {
    if (s_.trancount++ == 0) {
      s_.transaction_id = ++transaction_counter();
      sink_.transaction_change(kEnvBeginTran, s_.transaction_id);
    }
  }
  static std::atomic<uint64_t>& transaction_counter() {
    static std::atomic<uint64_t> n{0x100};
    return n;
  }

  Result run(const Transaction& t, const Params&) {
    switch (t.kind) {
      case Transaction::Begin:
        begin_transaction();
        break;
      case Transaction::Commit:
        if (s_.trancount == 0) {
          emit(sql_message(
              3902, 16, 1,
              "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."));
        } else if (--s_.trancount == 0) {
          sink_.transaction_change(kEnvCommitTran, s_.transaction_id);
        }
        break;
      case Transaction::Rollback:
        if (s_.trancount == 0) {
          emit(sql_message(
              3903, 16, 1,
              "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."));
        } else {
          s_.trancount = 0;
          sink_.transaction_change(kEnvRollbackTran, s_.transaction_id);
        }
        break;
      case Transaction::Save:
        if (s_.trancount == 0)
          emit(sql_message(628, 16, 0,
                           "Cannot issue SAVE TRANSACTION when there is no active transaction."));
        break;
    }
    return {};
  }

  // ---- SET / USE / PRINT / IF ----
  Result run(const SetOption& o, const Params&) {
    for (const auto& name : o.options) {
      if (name == "NOCOUNT") s_.nocount = o.value == "ON";
      if (name == "IMPLICIT_TRANSACTIONS") s_.implicit_transactions = o.value == "ON";
      if (name == "LANGUAGE") s_.language = o.value;
    }
    return {};
  }

  Result run(const Use& u, const Params&) {
    std::string name;
    {
      std::lock_guard<std::mutex> lock(st_.mutex);
      Database* db = st_.find_database(u.database);
      if (!db) {
        emit(sql_message(911, 16, 1,
                         "Database '" + u.database +
                             "' does not exist. Make sure that the name is entered correctly."));
        return {};
      }
      name = db->name;
      st_.set_session_database(s_.spid, name);
    }
    std::string old = s_.database;
    s_.database = name;
    sink_.env_change(kEnvDatabase, name, old);
    emit(sql_message(5701, 0, 1, "Changed database context to '" + name + "'."));
    return {};
  }

  Result run(const Print& p, const Params& params) {
    Cell v = eval(p.expr, params, nullptr);
    emit(sql_message(0, 0, 1, text_of(v)));
    return {};
  }

  Result run(const If& f, const Params& params) {
    if (truthy(eval(f.condition, params, nullptr))) return execute(*f.then_branch, params);
    if (f.else_branch) return execute(*f.else_branch, params);
    return {};
  }

  // ---- expressions ----
  static std::string text_of(const Cell& c) {
    if (auto s = std::get_if<std::string>(&c)) return *s;
    if (auto n = std::get_if<int64_t>(&c)) return std::to_string(*n);
    return {};
  }
  static bool is_null(const Cell& c) { return std::holds_alternative<std::monostate>(c); }
  static bool truthy(const Cell& c) {
    if (auto n = std::get_if<int64_t>(&c)) return *n != 0;
    return false;
  }
  static std::optional<int64_t> as_int(const Cell& c) {
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

  int compare(const Cell& a, const Cell& b) {
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

  Cell global(const std::string& name) {
    std::string n = ascii_upper(name);
    if (n == "@@VERSION") return std::string(kVersion);
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
    if (n == "@@MICROSOFTVERSION") return int64_t{251658240 + 2000};
    if (n == "@@MAX_CONNECTIONS") return int64_t{32767};
    throw SqlError({sql_message(137, 15, 2, "Must declare the scalar variable \"" + name + "\".")});
  }

  Cell server_property(const std::string& name) {
    std::string n = sql_lower(name);
    if (n == "productversion") return std::string("15.0.2000.5");
    if (n == "productlevel") return std::string("RTM");
    if (n == "edition") return std::string("Developer Edition (64-bit)");
    if (n == "engineedition") return int64_t{3};
    if (n == "servername" || n == "machinename") return ex_.server_name();
    if (n == "collation")
      return std::string(st_.case_sensitive() ? "SQL_Latin1_General_CP1_CS_AS"
                                              : "SQL_Latin1_General_CP1_CI_AS");
    if (n == "isintegratedsecurityonly" || n == "isclustered" || n == "issingleuser")
      return int64_t{0};
    return {};
  }

  Cell eval(const ExprPtr& e, const Params& params, const std::map<std::string, Cell>* row) {
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

  Cell binary(const ExprPtr& e, const Params& params, const std::map<std::string, Cell>* row) {
    const std::string& op = e->text;
    if (op == "IS NULL") return int64_t{is_null(eval(e->args[0], params, row)) ? 1 : 0};
    if (op == "AND")
      return int64_t{truthy(eval(e->args[0], params, row)) &&
                     truthy(eval(e->args[1], params, row))};
    if (op == "OR")
      return int64_t{truthy(eval(e->args[0], params, row)) ||
                     truthy(eval(e->args[1], params, row))};
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

  Cell function(const ExprPtr& e, const Params& params, const std::map<std::string, Cell>* row) {
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
        t.erase(
            0, t.find_first_not_of(' ') == std::string::npos ? t.size() : t.find_first_not_of(' '));
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

  // ---- SELECT ----
  Table table(const Select& s) {
    Table t;
    auto nv = [](const char* n, uint16_t len = 128) {
      Column c;
      c.name = n;
      c.max_chars = len;
      return c;
    };
    auto iv = [](const char* n, ColType type = ColType::Int) {
      Column c;
      c.name = n;
      c.type = type;
      return c;
    };
    std::lock_guard<std::mutex> lock(st_.mutex);
    const std::string& f = s.from;
    if (f == "sysdatabases" || f == "sys.databases") {
      bool sys = f == "sys.databases";
      t.columns = {nv("name"),
                   iv(sys ? "database_id" : "dbid", sys ? ColType::Int : ColType::SmallInt)};
      if (sys) {
        t.columns.push_back(nv("state_desc", 60));
        t.columns.push_back(nv("owner_name"));
      } else {
        t.columns.push_back(nv("filename", 260));
        t.columns.push_back(iv("status"));
      }
      int64_t id = 1;
      for (const auto& d : st_.databases()) {
        std::map<std::string, Cell> r;
        r["name"] = d.name;
        r[sys ? "database_id" : "dbid"] = id++;
        r["state_desc"] = d.status;
        r["owner_name"] = d.owner;
        r["filename"] = d.files.empty() ? std::string() : d.files.front().physical;
        r["status"] = int64_t{d.status == "ONLINE" ? 0 : 32};
        t.rows.push_back(r);
      }
    } else if (f == "syslogins" || f == "sys.syslogins" || f == "sys.server_principals" ||
               f == "sys.sql_logins") {
      bool compat = f == "syslogins" || f == "sys.syslogins";
      if (compat) {
        t.columns = {nv("name"),          nv("loginname"),   nv("dbname"),   iv("sysadmin"),
                     iv("securityadmin"), iv("serveradmin"), iv("dbcreator")};
      } else {
        t.columns = {nv("name"), nv("type_desc", 60), nv("default_database_name")};
      }
      for (const auto& l : st_.logins()) {
        std::map<std::string, Cell> r;
        r["name"] = l.name;
        r["loginname"] = l.name;
        r["dbname"] = l.default_database;
        r["default_database_name"] = l.default_database;
        r["type_desc"] = std::string("SQL_LOGIN");
        for (const char* role : {"sysadmin", "securityadmin", "serveradmin", "dbcreator"})
          r[role] = int64_t{l.roles.count(role) ? 1 : 0};
        t.rows.push_back(r);
      }
    } else if (f == "sys.configurations" || f == "sysconfigures") {
      t.columns = {nv("name", 35), iv("value", ColType::BigInt),
                   iv("value_in_use", ColType::BigInt), iv("minimum", ColType::BigInt),
                   iv("maximum", ColType::BigInt)};
      for (const auto& o : st_.options())
        t.rows.push_back({{"name", o.name},
                          {"value", o.value},
                          {"value_in_use", o.running},
                          {"minimum", o.minimum},
                          {"maximum", o.maximum}});
    } else if (f == "sysaltfiles" || f == "sys.master_files") {
      bool sys = f == "sys.master_files";
      t.columns = {iv(sys ? "database_id" : "dbid"), nv("name"),
                   nv(sys ? "physical_name" : "filename", 260), iv(sys ? "type" : "fileid")};
      int64_t id = 1;
      for (const auto& d : st_.databases()) {
        int64_t fid = 1;
        for (const auto& file : d.files) {
          std::map<std::string, Cell> r;
          r[sys ? "database_id" : "dbid"] = id;
          r["name"] = file.logical;
          r[sys ? "physical_name" : "filename"] = file.physical;
          r[sys ? "type" : "fileid"] = sys ? int64_t{file.type == 'L' ? 1 : 0} : fid;
          ++fid;
          t.rows.push_back(r);
        }
        ++id;
      }
    } else {
      throw SqlError({sql_message(208, 16, 1, "Invalid object name '" + s.from_text + "'.")});
    }
    return t;
  }

  static bool is_count(const ExprPtr& e) {
    return e && e->kind == Expr::Function && e->text == "COUNT";
  }

  Result run(const Select& s, const Params& params) {
    ResultSet rs;
    if (s.from.empty()) {
      Row row;
      for (const auto& item : s.items) {
        if (!item.expr)
          throw SqlError({sql_message(263, 16, 1, "Must specify table to select from.")});
        Cell v = eval(item.expr, params, nullptr);
        Column c;
        c.name = item.alias;
        if (std::holds_alternative<int64_t>(v)) {
          c.type = ColType::Int;
          auto n = std::get<int64_t>(v);
          if (n > INT32_MAX || n < INT32_MIN) c.type = ColType::BigInt;
        } else {
          c.max_chars =
              static_cast<uint16_t>(std::max<size_t>(128, utf8_to_utf16(text_of(v)).size()));
        }
        rs.columns.push_back(c);
        row.push_back(v);
      }
      rs.rows.push_back(row);
    } else {
      if (s_.implicit_transactions && s_.trancount == 0) begin_transaction();
      Table t = table(s);
      std::vector<const std::map<std::string, Cell>*> matching;
      for (const auto& r : t.rows)
        if (!s.where || truthy(eval(s.where, params, &r))) matching.push_back(&r);
      bool aggregate = std::any_of(s.items.begin(), s.items.end(),
                                   [](const SelectItem& i) { return is_count(i.expr); });
      for (const auto& item : s.items) {
        if (!item.expr) {
          for (const auto& c : t.columns) rs.columns.push_back(c);
          continue;
        }
        Column c;
        c.name = item.alias;
        if (is_count(item.expr)) {
          c.type = ColType::Int;
        } else if (item.expr->kind == Expr::Column) {
          bool found = false;
          for (const auto& tc : t.columns) {
            if (iequals(tc.name, item.expr->text)) {
              c = tc;
              found = true;
            }
          }
          if (!found)
            throw SqlError(
                {sql_message(207, 16, 1, "Invalid column name '" + item.expr->text + "'.")});
          if (!item.alias.empty()) c.name = item.alias;
        } else {
          c.max_chars = 4000;
        }
        rs.columns.push_back(c);
      }
      if (aggregate) {
        Row row;
        for (const auto& item : s.items) {
          if (is_count(item.expr))
            row.push_back(static_cast<int64_t>(matching.size()));
          else
            row.push_back(matching.empty() ? Cell{} : eval(item.expr, params, matching.front()));
        }
        rs.rows.push_back(row);
      } else {
        for (const auto* r : matching) {
          Row row;
          for (const auto& item : s.items) {
            if (!item.expr) {
              for (const auto& c : t.columns) row.push_back(r->at(sql_lower(c.name)));
              continue;
            }
            Cell v = eval(item.expr, params, r);
            if (item.expr->kind != Expr::Column && std::holds_alternative<int64_t>(v))
              v = text_of(v);
            row.push_back(v);
          }
          rs.rows.push_back(row);
        }
      }
    }
    emit_rows(rs);
    Result r;
    r.count = true;
    r.rows = rs.rows.size();
    r.curcmd = kCmdSelect;
    return r;
  }

  // ---- CREATE DATABASE ----
  bool may_create_databases() { return st_.has_role(s_.login, "dbcreator"); }

  Result run(const CreateDatabase& c, const Params&) {
    std::lock_guard<std::mutex> lock(st_.mutex);
    if (!may_create_databases()) {
      emit(sql_message(262, 14, 1, "CREATE DATABASE permission denied in database 'master'."));
      return {};
    }
    if (s_.trancount > 0) {
      emit(sql_message(
          226, 16, 6, "CREATE DATABASE statement not allowed within multi-statement transaction."));
      return {};
    }
    if (st_.find_database(c.name)) {
      emit(sql_message(
          1801, 16, 3,
          "Database '" + c.name + "' already exists. Choose a different database name."));
      return {};
    }
    std::vector<DbFile> files;
    auto defaults = st_.default_files(c.name);
    if (c.data.empty()) files.push_back(defaults[0]);
    for (const auto& f : c.data)
      files.push_back(
          {f.logical.empty() ? c.name : f.logical, f.filename, 'D', f.size_mb.value_or(1)});
    if (c.log.empty()) files.push_back(defaults[1]);
    for (const auto& f : c.log)
      files.push_back({f.logical.empty() ? c.name + "_log" : f.logical, f.filename, 'L',
                       f.size_mb.value_or(1)});
    int model = st_.settings().model_size_mb;
    if (model > 0 && !c.data.empty() && c.data.front().size_mb && *c.data.front().size_mb < model) {
      emit(sql_message(1803, 16, 1,
                       "The CREATE DATABASE statement failed. The primary file must be at least " +
                           std::to_string(model) +
                           " MB to accommodate a copy of the model database."));
      return {};
    }
    for (size_t i = 0; i < files.size(); ++i) {
      for (size_t k = 0; k < i; ++k) {
        if (names_equal(files[k].logical, files[i].logical)) {
          emit(sql_message(1828, 16, 1,
                           "The logical file name \"" + files[i].logical +
                               "\" is already in use. Choose a different name."));
          return {};
        }
      }
    }
    for (const auto& f : files) {
      if (!st_.folder_exists(f.physical)) {
        emit(sql_message(5133, 16, 1,
                         "Directory lookup for the file \"" + f.physical +
                             "\" failed with the operating system error 3(The system cannot find "
                             "the path specified.)."));
        emit(sql_message(1802, 16, 1,
                         "CREATE DATABASE failed. Some file names listed could not be created. "
                         "Check related errors."));
        return {};
      }
      if (st_.file_exists(f.physical)) {
        emit(sql_message(5170, 16, 1,
                         "Cannot create file '" + f.physical +
                             "' because it already exists. Change the file path or the file name, "
                             "and retry the operation."));
        emit(sql_message(1802, 16, 4,
                         "CREATE DATABASE failed. Some file names listed could not be created. "
                         "Check related errors."));
        return {};
      }
    }
    for (const auto& f : files) st_.create_file(f.physical);
    Database db;
    db.name = c.name;
    db.owner = s_.login;
    db.files = files;
    st_.add_database(db);
    st_.save();
    return {};
  }

  // ---- DROP DATABASE ----
  Result run(const DropDatabase& d, const Params&) {
    std::lock_guard<std::mutex> lock(st_.mutex);
    for (const auto& name : d.names) {
      Database* db = st_.find_database(name);
      bool allowed =
          db && (st_.has_role(s_.login, "dbcreator") || names_equal(db->owner, s_.login));
      if (!db || !allowed) {
        if (d.if_exists && !db) continue;
        emit(sql_message(3701, 11, 1,
                         "Cannot drop the database '" + name +
                             "', because it does not exist or you do not have permission."));
        continue;
      }
      static const char* system[] = {"master", "model", "msdb", "tempdb"};
      bool is_system = std::any_of(std::begin(system), std::end(system),
                                   [&](const char* n) { return iequals(db->name, n); });
      if (is_system) {
        emit(sql_message(
            3708, 16, 1,
            "Cannot drop the database '" + db->name + "' because it is a system database."));
        continue;
      }
      if (s_.trancount > 0) {
        emit(sql_message(574, 16, 0,
                         "DROP DATABASE statement cannot be used inside a user transaction."));
        continue;
      }
      if (st_.in_use(db->name)) {
        emit(sql_message(
            3702, 16, 4,
            "Cannot drop database \"" + db->name + "\" because it is currently in use."));
        continue;
      }
      for (const auto& f : db->files) st_.delete_file(f.physical);
      st_.remove_database(db->name);
      st_.save();
    }
    return {};
  }

  // ---- RESTORE ----
  std::string terminating(const Restore& r) {
    switch (r.kind) {
      case Restore::Database:
        return "RESTORE DATABASE is terminating abnormally.";
      case Restore::FileListOnly:
        return "RESTORE FILELIST is terminating abnormally.";
      case Restore::HeaderOnly:
        return "RESTORE HEADERONLY is terminating abnormally.";
      case Restore::VerifyOnly:
        return "VERIFY DATABASE is terminating abnormally.";
    }
    return {};
  }

  // Opens the backup; emits 3201/3241 + 3013 and returns nullopt when it cannot.
  std::optional<Backup> open_backup(const Restore& r, const Params& params) {
    std::string disk = r.disk;
    if (!disk.empty() && disk[0] == '@') {
      auto it = params.find(sql_lower(disk));
      if (it == params.end())
        throw SqlError(
            {sql_message(137, 15, 2, "Must declare the scalar variable \"" + disk + "\".")});
      disk = it->second.value_or("");
    }
    std::string local = ServerState::map_path(disk);
    std::ifstream in(local, std::ios::binary);
    std::error_code ec;
    if (disk.empty() || !in || std::filesystem::is_directory(local, ec)) {
      bool folder = !disk.empty() &&
                    std::filesystem::is_directory(std::filesystem::path(local).parent_path(), ec);
      emit(sql_message(3201, 16, 2,
                       "Cannot open backup device '" + disk + "'. Operating system error " +
                           (folder ? "2(The system cannot find the file specified.)."
                                   : "3(The system cannot find the path specified.).")));
      emit(sql_message(3013, 16, 1, terminating(r)));
      return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto b = parse_backup(text.str());
    if (!b) {
      emit(
          sql_message(3241, 16, 0,
                      "The media family on device '" + disk +
                          "' is incorrectly formed. SQL Server cannot process this media family."));
      emit(sql_message(3013, 16, 1, terminating(r)));
      return std::nullopt;
    }
    if (r.file != 1) {
      emit(sql_message(
          4038, 16, 1,
          "Cannot find file ID " + std::to_string(r.file) + " on device '" + disk + "'."));
      emit(sql_message(3013, 16, 1, terminating(r)));
      return std::nullopt;
    }
    restore_disk_ = disk;
    return b;
  }

  Result run(const Restore& r, const Params& params) {
    if (r.kind == Restore::FileListOnly || r.kind == Restore::HeaderOnly ||
        r.kind == Restore::VerifyOnly) {
      auto b = open_backup(r, params);
      if (!b) return {};
      ResultSet rs;
      auto nv = [](const char* n, uint16_t len = 128) {
        Column c;
        c.name = n;
        c.max_chars = len;
        return c;
      };
      if (r.kind == Restore::VerifyOnly) {
        emit(sql_message(3262, 0, 1, "The backup set on file 1 is valid."));
        return {};
      }
      if (r.kind == Restore::HeaderOnly) {
        Column pos;
        pos.name = "Position";
        pos.type = ColType::SmallInt;
        Column type;
        type.name = "BackupType";
        type.type = ColType::SmallInt;
        rs.columns = {nv("BackupName"), type, pos, nv("DatabaseName"), nv("ServerName")};
        rs.rows.push_back({Cell{}, int64_t{1}, int64_t{1}, b->database, ex_.server_name()});
      } else {
        Column size, max;
        size.name = "Size";
        size.type = ColType::Numeric;
        max.name = "MaxSize";
        max.type = ColType::Numeric;
        Column id;
        id.name = "FileId";
        id.type = ColType::BigInt;
        rs.columns = {nv("LogicalName"),
                      nv("PhysicalName", 260),
                      nv("Type", 1),
                      nv("FileGroupName"),
                      size,
                      max,
                      id};
        int64_t fid = 1;
        for (const auto& f : b->files) {
          rs.rows.push_back({f.logical, f.physical, std::string(1, f.type),
                             f.type == 'D' ? Cell{std::string("PRIMARY")} : Cell{},
                             static_cast<int64_t>(f.pages * 8192), int64_t{35184372080640}, fid++});
        }
      }
      emit_rows(rs);
      Result res;
      res.count = true;
      res.rows = rs.rows.size();
      res.curcmd = kCmdSelect;
      return res;
    }
    return restore_database(r, params);
  }

  Result restore_database(const Restore& r, const Params& params) {
    std::optional<Backup> backup;
    std::vector<DbFile> files;
    {
      std::lock_guard<std::mutex> lock(st_.mutex);
      Database* existing = st_.find_database(r.database);
      bool allowed = st_.has_role(s_.login, "dbcreator") ||
                     (existing && names_equal(existing->owner, s_.login));
      if (!allowed) {
        emit(
            sql_message(3110, 14, 1,
                        "User does not have permission to RESTORE database '" + r.database + "'."));
        emit(sql_message(3013, 16, 1, terminating(r)));
        return {};
      }
      if (s_.trancount > 0) {
        emit(sql_message(3021, 16, 0,
                         "Cannot perform a backup or restore operation within a transaction."));
        emit(sql_message(3013, 16, 1, terminating(r)));
        return {};
      }
    }
    backup = open_backup(r, params);
    if (!backup) return {};
    std::lock_guard<std::mutex> lock(st_.mutex);
    for (const auto& [logical, path] : r.moves) {
      // A named reference: clang before 16 cannot capture a structured binding.
      const std::string& wanted = logical;
      bool found = std::any_of(backup->files.begin(), backup->files.end(),
                               [&](const BackupFile& f) { return names_equal(f.logical, wanted); });
      if (!found) {
        emit(sql_message(3234, 16, 2,
                         "Logical file '" + logical + "' is not part of database '" + r.database +
                             "'. Use RESTORE FILELISTONLY to list the logical file names."));
        emit(sql_message(3013, 16, 1, terminating(r)));
        return {};
      }
    }
    Database* existing = st_.find_database(r.database);
    if (existing && st_.in_use(existing->name)) {
      emit(sql_message(3101, 16, 1,
                       "Exclusive access could not be obtained because the database is in use."));
      emit(sql_message(3013, 16, 1, terminating(r)));
      return {};
    }
    if (existing && !r.replace && !names_equal(existing->name, backup->database)) {
      emit(sql_message(3154, 16, 4,
                       "The backup set holds a backup of a database other than the existing '" +
                           existing->name + "' database."));
      emit(sql_message(3013, 16, 1, terminating(r)));
      return {};
    }
    for (const auto& bf : backup->files) {
      DbFile f{bf.logical, bf.physical, bf.type,
               std::max(1.0, static_cast<double>(bf.pages) * 8192 / 1048576)};
      for (const auto& [logical, path] : r.moves)
        if (names_equal(logical, bf.logical)) f.physical = path;
      files.push_back(f);
    }
    bool planning_failed = false;
    for (const auto& f : files) {
      const Database* owner = st_.database_with_file(f.physical);
      if (owner && !(existing && names_equal(owner->name, existing->name))) {
        emit(sql_message(1834, 16, 1,
                         "The file '" + f.physical +
                             "' cannot be overwritten.  It is being used by database '" +
                             owner->name + "'."));
        emit(sql_message(3156, 16, 4,
                         "File '" + f.logical + "' cannot be restored to '" + f.physical +
                             "'. Use WITH MOVE to identify a valid location for the file."));
        planning_failed = true;
      } else if (!st_.folder_exists(f.physical)) {
        emit(sql_message(5133, 16, 1,
                         "Directory lookup for the file \"" + f.physical +
                             "\" failed with the operating system error 3(The system cannot find "
                             "the path specified.)."));
        emit(sql_message(3156, 16, 3,
                         "File '" + f.logical + "' cannot be restored to '" + f.physical +
                             "'. Use WITH MOVE to identify a valid location for the file."));
        planning_failed = true;
      }
    }
    if (planning_failed) {
      emit(sql_message(3119, 16, 1,
                       "Problems were identified while planning for the RESTORE statement. "
                       "Previous messages provide details."));
      emit(sql_message(3013, 16, 1, terminating(r)));
      return {};
    }
    // The database exists from now on, restoring, with the new files.
    std::string owner = existing ? existing->owner : s_.login;
    if (existing) {
      for (const auto& f : existing->files) {
        bool kept = std::any_of(files.begin(), files.end(), [&](const DbFile& n) {
          return ServerState::map_path(n.physical) == ServerState::map_path(f.physical);
        });
        if (!kept) st_.delete_file(f.physical);
      }
      st_.remove_database(existing->name);
    }
    Database db;
    db.name = r.database;
    db.owner = owner;
    db.files = files;
    db.status = "RESTORING";
    for (const auto& f : files) st_.create_file(f.physical);
    st_.add_database(db);
    st_.save();
    std::string dbname = db.name;
    int64_t total_pages = 0;
    for (const auto& f : backup->files) total_pages += f.pages;
    progress_and_finish(r, *backup, dbname, total_pages);
    return {};
  }

  void set_status(const std::string& dbname, const std::string& status) {
    Database* db = st_.find_database(dbname);
    if (db) db->status = status;
    st_.save();
  }

  // Called with the state locked; unlocks it while waiting between steps.
  void progress_and_finish(const Restore& r, const Backup& b, const std::string& dbname,
                           int64_t pages) {
    st_.mutex.unlock();
    struct Relock {
      std::mutex& m;
      ~Relock() { m.lock(); }
    } relock{st_.mutex};
    auto started = std::chrono::steady_clock::now();
    const double seconds = ex_.controls().restore_seconds;
    const auto fail_at = ex_.controls().restore_fail_at;
    uint8_t done_token = in_proc_depth_ ? kTokDoneInProc : kTokDone;
    int step = r.stats.value_or(0);
    // Progress goes in steps of 1 percent internally so that a failure point
    // between two reports still fails at the right moment.
    int reported = 0;
    for (int pct = 1; pct <= 100; ++pct) {
      auto ms = std::chrono::milliseconds(static_cast<int64_t>(seconds * 10.0));
      if (!sink_.wait(ms)) {
        throw Cancelled{};
      }
      if (const auto stall_at = ex_.controls().stall_restore_at; stall_at && pct > *stall_at) {
        sink_.stall();
        throw Cancelled{};
      }
      if (fail_at && pct > *fail_at) {
        emit(sql_message(
            3203, 16, 1,
            "Read on '" + restore_disk_ + "' failed: 23(Data error (cyclic redundancy check).)"));
        emit(sql_message(3013, 16, 1, terminating(r)));
        return;
      }
      if (step > 0 && pct >= reported + step) {
        reported = pct - pct % step;
        emit(sql_message(3211, 10, 1, std::to_string(reported) + " percent processed."));
        sink_.done(done_token, kDoneMore, 0, 0);
        sink_.flush();
      }
    }
    for (const auto& f : b.files) {
      emit(sql_message(4035, 10, 1,
                       "Processed " + std::to_string(f.pages) + " pages for database '" + dbname +
                           "', file '" + f.logical + "' on file " + std::to_string(r.file) + "."));
    }
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    elapsed = std::max(elapsed, 0.001);
    double rate = static_cast<double>(pages) * 8192.0 / 1048576.0 / elapsed;
    emit(sql_message(3014, 10, 1,
                     "RESTORE DATABASE successfully processed " + std::to_string(pages) +
                         " pages in " + fmt3(elapsed) + " seconds (" + fmt3(rate) + " MB/sec)."));
    std::lock_guard<std::mutex> lock(st_.mutex);
    set_status(dbname, r.recovery ? "ONLINE" : "RESTORING");
  }

  // ---- RECONFIGURE ----
  Result run(const Reconfigure&, const Params&) {
    std::lock_guard<std::mutex> lock(st_.mutex);
    if (!st_.has_role(s_.login, "serveradmin")) {
      emit(
          sql_message(5812, 14, 1, "You do not have permission to run the RECONFIGURE statement."));
      return {};
    }
    if (s_.trancount > 0) {
      emit(sql_message(574, 16, 0,
                       "RECONFIGURE statement cannot be used inside a user transaction."));
      return {};
    }
    for (auto& o : st_.options()) o.running = o.value;
    st_.save();
    return {};
  }

  // ---- EXEC ----
  Result run(const Exec& e, const Params& params) {
    int ret = 0;
    Result r = exec(e, params, &ret);
    sink_.return_status(ret);
    return r;
  }

  struct ProcArgs {
    std::vector<std::optional<std::string>> values;
    std::vector<bool> given;
  };

  // Matches the call's arguments to the procedure's parameters.
  bool bind(const std::string& proc, const std::vector<std::string>& names, size_t required,
            const Exec& e, const Params& params, ProcArgs& out) {
    out.values.assign(names.size(), std::nullopt);
    out.given.assign(names.size(), false);
    size_t pos = 0;
    for (const auto& a : e.args) {
      size_t idx = pos;
      if (!a.name.empty()) {
        auto it = std::find_if(names.begin(), names.end(),
                               [&](const std::string& n) { return iequals(n, a.name); });
        if (it == names.end()) {
          emit(sql_message(8145, 16, 2, a.name + " is not a parameter for procedure " + proc + ".",
                           proc));
          return false;
        }
        idx = static_cast<size_t>(it - names.begin());
      } else {
        ++pos;
      }
      if (idx >= names.size()) {
        emit(sql_message(8144, 16, 2,
                         "Procedure or function " + proc + " has too many arguments specified.",
                         proc));
        return false;
      }
      std::optional<std::string> v;
      switch (a.kind) {
        case ExecArg::String:
        case ExecArg::Number:
          v = a.text;
          break;
        case ExecArg::Null:
        case ExecArg::Default:
          break;
        case ExecArg::Variable: {
          auto it = params.find(sql_lower(a.text));
          if (it == params.end())
            throw SqlError(
                {sql_message(137, 15, 2, "Must declare the scalar variable \"" + a.text + "\".")});
          v = it->second;
          break;
        }
      }
      out.values[idx] = v;
      out.given[idx] = a.kind != ExecArg::Default;
    }
    for (size_t i = 0; i < required; ++i) {
      if (!out.given[i]) {
        emit(sql_message(201, 16, 4,
                         "Procedure or function '" + proc + "' expects parameter '" + names[i] +
                             "', which was not supplied.",
                         proc));
        return false;
      }
    }
    return true;
  }

  Result exec(const Exec& e, const Params& params, int* ret) {
    Result r;
    r.proc = true;
    std::string name = sql_lower(e.proc);
    *ret = 1;
    ProcArgs a;
    ++in_proc_depth_;
    struct Depth {
      int& d;
      ~Depth() { --d; }
    } depth{in_proc_depth_};
    if (name == "sp_executesql") {
      if (!bind("sp_executesql", {"@stmt", "@params"}, 1, Exec{e.proc, {}}, params, a)) return r;
      Params inner;
      std::vector<std::string> declared;
      size_t positional = 0;
      std::string stmt;
      for (size_t i = 0; i < e.args.size(); ++i) {
        const auto& arg = e.args[i];
        std::optional<std::string> v = arg.text;
        if (arg.kind == ExecArg::Null || arg.kind == ExecArg::Default) v.reset();
        if (arg.kind == ExecArg::Variable) {
          auto it = params.find(sql_lower(arg.text));
          if (it == params.end())
            throw SqlError({sql_message(137, 15, 2,
                                        "Must declare the scalar variable \"" + arg.text + "\".")});
          v = it->second;
        }
        if (i == 0)
          stmt = v.value_or("");
        else if (i == 1)
          declared = parse_param_declarations(v.value_or(""));
        else if (!arg.name.empty())
          inner[sql_lower(arg.name)] = v;
        else if (positional < declared.size())
          inner[sql_lower(declared[positional++])] = v;
      }
      bool err = executesql(stmt, inner, *ret);
      r.error = err;
      return r;
    }
    if (name == "sp_droplogin") {
      if (!bind("sp_droplogin", {"@loginame"}, 1, e, params, a)) return r;
      *ret = sp_droplogin(a.values[0].value_or(""));
    } else if (name == "sp_addlogin") {
      if (!bind("sp_addlogin",
                {"@loginame", "@passwd", "@defdb", "@deflanguage", "@sid", "@encryptopt"}, 1, e,
                params, a))
        return r;
      *ret = sp_addlogin(a.values[0].value_or(""), a.values[1].value_or(""), a.values[2]);
    } else if (name == "sp_addsrvrolemember" || name == "sp_dropsrvrolemember") {
      if (!bind(name, {"@loginame", "@rolename"}, 2, e, params, a)) return r;
      *ret = srvrolemember(name, a.values[0].value_or(""), a.values[1].value_or(""),
                           name == "sp_addsrvrolemember");
    } else if (name == "sp_defaultdb") {
      if (!bind("sp_defaultdb", {"@loginame", "@defdb"}, 2, e, params, a)) return r;
      *ret = sp_defaultdb(a.values[0].value_or(""), a.values[1].value_or(""));
    } else if (name == "sp_password") {
      if (!bind("sp_password", {"@old", "@new", "@loginame"}, 0, e, params, a)) return r;
      *ret = sp_password(a.values[0], a.values[1].value_or(""), a.values[2].value_or(s_.login));
    } else if (name == "sp_configure") {
      if (!bind("sp_configure", {"@configname", "@configvalue"}, 0, e, params, a)) return r;
      *ret = sp_configure(a.values[0], a.values[1]);
    } else {
      emit(sql_message(2812, 16, 62, "Could not find stored procedure '" + e.proc + "'."));
      return r;
    }
    return r;
  }

  int sp_droplogin(const std::string& login) {
    const std::string proc = "sp_droplogin";
    std::lock_guard<std::mutex> lock(st_.mutex);
    if (!st_.has_role(s_.login, "securityadmin")) {
      emit(sql_message(15247, 16, 1, "User does not have permission to perform this action.", proc,
                       33));
      return 1;
    }
    Login* l = st_.find_login(login);
    if (!l) {
      emit(sql_message(15007, 16, 1,
                       q(login) + " is not a valid login or you do not have permission.", proc,
                       40));
      return 1;
    }
    if (iequals(l->name, "sa")) {
      emit(sql_message(15405, 11, 1, "Cannot use the special principal 'sa'.", proc, 50));
      return 1;
    }
    // DROP LOGIN names the databases in the message itself.
    std::string owned;
    for (const auto& d : st_.databases())
      if (names_equal(d.owner, l->name)) owned += (owned.empty() ? "" : ", ") + d.name;
    if (!owned.empty()) {
      emit(sql_message(15174, 16, 1,
                       "Login '" + l->name +
                           "' owns one or more database(s). Change the owner of the following "
                           "database(s) before "
                           "dropping login: " +
                           owned + ".",
                       proc, 62));
      return 1;
    }
    if (st_.logged_on(l->name)) {
      emit(sql_message(15434, 16, 1,
                       "Could not drop login '" + l->name + "' as the user is currently logged in.",
                       proc, 70));
      return 1;
    }
    st_.remove_login(l->name);
    st_.save();
    return 0;
  }

  int sp_addlogin(const std::string& login, const std::string& password,
                  const std::optional<std::string>& defdb) {
    const std::string proc = "sp_addlogin";
    std::lock_guard<std::mutex> lock(st_.mutex);
    if (!st_.has_role(s_.login, "securityadmin")) {
      emit(sql_message(15247, 16, 1, "User does not have permission to perform this action.", proc,
                       17));
      return 1;
    }
    if (login.empty() || login.find('\\') != std::string::npos) {
      emit(sql_message(15006, 16, 1,
                       q(login) + " is not a valid name because it contains invalid characters.",
                       proc, 36));
      return 1;
    }
    if (st_.find_login(login)) {
      emit(sql_message(15025, 16, 2, "The server principal '" + login + "' already exists.", proc,
                       63));
      return 1;
    }
    std::string db = "master";
    if (defdb) {
      Database* d = st_.find_database(*defdb);
      if (!d) {
        emit(sql_message(15010, 16, 1,
                         "The database " + q(*defdb) +
                             " does not exist. Supply a valid database name. To see available "
                             "databases, use sys.databases.",
                         proc, 44));
        return 1;
      }
      db = d->name;
    }
    Login& l = st_.add_login(login, password);
    l.default_database = db;
    st_.save();
    return 0;
  }

  int srvrolemember(const std::string& proc, const std::string& login, const std::string& role,
                    bool add) {
    std::lock_guard<std::mutex> lock(st_.mutex);
    std::string r = sql_lower(role);
    const auto& roles = fixed_server_roles();
    bool known = std::find(roles.begin(), roles.end(), r) != roles.end();
    bool allowed = st_.has_role(s_.login, "sysadmin") ||
                   (known && r != "sysadmin" &&
                    (st_.has_role(s_.login, r) || st_.has_role(s_.login, "securityadmin")));
    if (!allowed) {
      emit(sql_message(15247, 16, 1, "User does not have permission to perform this action.", proc,
                       27));
      return 1;
    }
    if (!known) {
      emit(sql_message(15402, 16, 1, q(role) + " is not a fixed server role.", proc, 33));
      return 1;
    }
    Login* l = st_.find_login(login);
    if (!l) {
      emit(sql_message(15007, 16, 1,
                       q(login) + " is not a valid login or you do not have permission.", proc,
                       40));
      return 1;
    }
    if (add)
      l->roles.insert(r);
    else
      l->roles.erase(r);
    st_.save();
    return 0;
  }

  int sp_defaultdb(const std::string& login, const std::string& dbname) {
    const std::string proc = "sp_defaultdb";
    std::lock_guard<std::mutex> lock(st_.mutex);
    Login* l = st_.find_login(login);
    if (!l) {
      emit(sql_message(15007, 16, 1,
                       q(login) + " is not a valid login or you do not have permission.", proc,
                       37));
      return 1;
    }
    Database* d = st_.find_database(dbname);
    if (!d) {
      emit(sql_message(15010, 16, 1,
                       "The database " + q(dbname) +
                           " does not exist. Supply a valid database name. To see available "
                           "databases, use sys.databases.",
                       proc, 42));
      return 1;
    }
    if (!names_equal(l->name, s_.login) && !st_.has_role(s_.login, "securityadmin")) {
      emit(sql_message(15151, 16, 1,
                       "Cannot alter the login '" + login +
                           "', because it does not exist or you do not have permission.",
                       proc, 53));
      return 1;
    }
    l->default_database = d->name;
    st_.save();
    return 0;
  }

  int sp_password(const std::optional<std::string>& old, const std::string& password,
                  const std::string& login) {
    const std::string proc = "sp_password";
    std::lock_guard<std::mutex> lock(st_.mutex);
    Login* l = st_.find_login(login);
    bool self = l && names_equal(l->name, s_.login);
    if (!l || (!self && !st_.has_role(s_.login, "securityadmin"))) {
      emit(sql_message(15151, 16, 1,
                       "Cannot alter the login '" + login +
                           "', because it does not exist or you do not have permission.",
                       proc, 48));
      return 1;
    }
    if (self && !st_.has_role(s_.login, "securityadmin") && old.value_or("") != l->password) {
      emit(sql_message(15151, 16, 1,
                       "Cannot alter the login '" + login +
                           "', because it does not exist or you do not have permission.",
                       proc, 48));
      return 1;
    }
    l->password = password;
    st_.save();
    emit(sql_message(15478, 0, 1, "Password changed.", proc, 60));
    return 0;
  }

  int sp_configure(const std::optional<std::string>& name,
                   const std::optional<std::string>& value) {
    const std::string proc = "sp_configure";
    std::lock_guard<std::mutex> lock(st_.mutex);
    ResultSet rs;
    {
      Column n;
      n.name = "name";
      n.max_chars = 35;
      Column mn, mx, cv, rv;
      mn.name = "minimum";
      mx.name = "maximum";
      cv.name = "config_value";
      rv.name = "run_value";
      rs.columns = {n, mn, mx, cv, rv};
    }
    auto row = [](const ConfigOption& o) {
      return Row{o.name, o.minimum, o.maximum, o.value, o.running};
    };
    if (!name) {
      for (const auto& o : st_.options()) rs.rows.push_back(row(o));
      emit_rows(rs);
      sink_.done(kTokDoneInProc, kDoneMore | kDoneCount, kCmdSelect, rs.rows.size());
      return 0;
    }
    ConfigOption* o = st_.find_option(*name);
    if (!o) {
      emit(sql_message(15123, 16, 1,
                       "The configuration option " + q(*name) +
                           " does not exist, or it may be an advanced option.",
                       proc, 62));
      return 1;
    }
    if (!value) {
      rs.rows.push_back(row(*o));
      emit_rows(rs);
      sink_.done(kTokDoneInProc, kDoneMore | kDoneCount, kCmdSelect, 1);
      return 0;
    }
    if (!st_.has_role(s_.login, "serveradmin")) {
      emit(sql_message(15247, 16, 1, "User does not have permission to perform this action.", proc,
                       94));
      return 1;
    }
    int64_t v = 0;
    try {
      size_t used = 0;
      v = std::stoll(*value, &used);
      if (used != value->size()) throw std::invalid_argument("not a number");
    } catch (...) {
      emit(sql_message(8114, 16, 1, "Error converting data type varchar to int.", proc, 0));
      return 1;
    }
    if (v < o->minimum || v > o->maximum) {
      emit(sql_message(15129, 16, 1,
                       q(std::to_string(v)) + " is not a valid value for configuration option " +
                           q(o->name) + ".",
                       proc, 151));
      return 1;
    }
    int64_t before = o->value;
    o->value = v;
    st_.save();
    emit(sql_message(15457, 0, 1,
                     "Configuration option " + q(o->name) + " changed from " +
                         std::to_string(before) + " to " + std::to_string(v) +
                         ". Run the RECONFIGURE statement to install.",
                     proc, 301));
    return 0;
  }

  Executor& ex_;
  ServerState& st_;
  Session& s_;
  Sink& sink_;
  Outcome& out_;
  bool error_ = false;
  int in_proc_depth_ = 0;
  std::string restore_disk_;
};

}  // namespace

Executor::Executor(ServerState& state, Controls& controls, std::string server_name)
    : state_(state), controls_(controls), server_name_(std::move(server_name)) {}

LoginOutcome Executor::login(const std::string& user, const std::string& password,
                             const std::string& database) {
  LoginOutcome out;
  if (auto f = controls_.take_login_failure(user)) {
    out.messages.push_back(*f);
    return out;
  }
  std::lock_guard<std::mutex> lock(state_.mutex);
  Login* l = state_.find_login(user);
  if (!l || l->password != password) {
    out.messages.push_back(sql_message(18456, 14, 1, "Login failed for user '" + user + "'."));
    return out;
  }
  std::string want = database.empty() ? l->default_database : database;
  Database* db = state_.find_database(want);
  if (!db || db->status != "ONLINE") {
    if (database.empty()) {
      out.messages.push_back(
          sql_message(4064, 11, 1, "Cannot open user default database. Login failed."));
    } else {
      out.messages.push_back(sql_message(
          4060, 11, 1,
          "Cannot open database \"" + want + "\" requested by the login. The login failed."));
    }
    out.messages.push_back(sql_message(18456, 14, 1, "Login failed for user '" + user + "'."));
    return out;
  }
  out.ok = true;
  out.database = db->name;
  return out;
}

void Executor::batch(Session& s, const std::string& sql, Sink& sink, Outcome& out) {
  Request(*this, s, sink, out).run_batch(sql);
}

void Executor::rpc(Session& s, const RpcRequest& req, Sink& sink, Outcome& out) {
  Request(*this, s, sink, out).run_rpc(req);
}

nlohmann::json Executor::rpc_bound_parameters(const RpcRequest& req) {
  nlohmann::json out = nlohmann::json::object();
  std::string name = sql_lower(req.proc_name);
  size_t decl = 1, first = 2;
  if (name == "sp_prepexec")
    first = 3;
  else if (name != "sp_executesql")
    return out;
  if (req.params.size() <= decl) return out;
  auto declared = parse_param_declarations(req.params[decl].value.value_or(""));
  size_t positional = 0;
  for (size_t i = first; i < req.params.size(); ++i) {
    const auto& p = req.params[i];
    std::string key = p.name;
    if (key.empty() && positional < declared.size()) key = declared[positional++];
    if (key.empty()) continue;
    out[key] = p.value ? nlohmann::json(*p.value) : nlohmann::json(nullptr);
  }
  return out;
}

std::string Executor::rpc_statement(const RpcRequest& req) {
  std::string name = sql_lower(req.proc_name);
  if (name == "sp_executesql" && !req.params.empty()) return req.params.front().value.value_or("");
  if ((name == "sp_prepexec" || name == "sp_prepare") && req.params.size() > 2)
    return req.params[2].value.value_or("");
  std::string s = req.proc_name;
  for (size_t i = 0; i < req.params.size(); ++i) {
    s += i ? ", " : " ";
    const auto& p = req.params[i];
    if (!p.name.empty()) s += p.name + " = ";
    s += p.value ? "N'" + *p.value + "'" : "NULL";
  }
  return s;
}

}  // namespace standin
