// The executor's entry points: logon checks, batches and RPCs (run by
// detail::Request, executor_*.cpp), and what the log records of an RPC.

#include "executor.h"

#include <algorithm>

#include "executor_internal.h"

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
  // A server in Windows Authentication mode refuses every SQL Server login, and
  // a Windows login's name is no SQL Server login; the state that tells why
  // goes only to the server's error log.
  if (!l || l->windows || l->password != password || state_.settings().windows_auth_only) {
    out.messages.push_back(sql_message(18456, 14, 1, "Login failed for user '" + user + "'."));
    return out;
  }
  return admit(*l, user, database);
}

LoginOutcome Executor::admit(const Login& l, const std::string& user, const std::string& database) {
  LoginOutcome out;
  if (l.disabled) {
    out.messages.push_back(sql_message(
        18470, 14, 1, "Login failed for user '" + user + "'. Reason: The account is disabled."));
    return out;
  }
  std::string want = database.empty() ? l.default_database : database;
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
  out.login = l.name;
  return out;
}

void Executor::batch(Session& s, const std::string& sql, Sink& sink, Outcome& out) {
  detail::Request(*this, s, sink, out).run_batch(sql);
}

void Executor::rpc(Session& s, const RpcRequest& req, Sink& sink, Outcome& out) {
  detail::Request(*this, s, sink, out).run_rpc(req);
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
