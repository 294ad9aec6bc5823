// Running a request: a batch or an RPC, its statements one by one with their
// DONE tokens, and the statements that only change the session (transactions,
// SET, USE) or just answer (PRINT, IF).

#include "executor_internal.h"

namespace standin::detail {

void Request::run_batch(const std::string& sql) {
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

void Request::run_rpc(const RpcRequest& req) {
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

void Request::emit(const ServerMessage& m) {
  sink_.message(m);
  out_.messages.push_back(m);
  if (m.is_error()) error_ = true;
}

void Request::emit_rows(const ResultSet& rs) {
  sink_.result_set(rs);
  out_.rows += rs.rows.size();
}

Result Request::select_result(const ResultSet& rs) {
  emit_rows(rs);
  Result r;
  r.count = true;
  r.rows = rs.rows.size();
  r.curcmd = kCmdSelect;
  return r;
}

bool Request::names_equal(const std::string& a, const std::string& b) const {
  return st_.names_equal(a, b);
}

bool Request::run_statements(const std::vector<Statement>& stmts, bool in_proc,
                             const Params& params) {
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

Result Request::execute(const Statement& stmt, const Params& params) {
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

bool Request::executesql(const std::string& stmt, const Params& params, int& ret) {
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

void Request::begin_transaction() {
  if (s_.trancount++ == 0) {
    s_.transaction_id = ++transaction_counter();
    sink_.transaction_change(kEnvBeginTran, s_.transaction_id);
  }
}

std::atomic<uint64_t>& Request::transaction_counter() {
  static std::atomic<uint64_t> n{0x100};
  return n;
}

Result Request::run(const Transaction& t, const Params&) {
  switch (t.kind) {
    case Transaction::Begin:
      begin_transaction();
      break;
    case Transaction::Commit:
      if (s_.trancount == 0) {
        emit(sql_message(3902, 16, 1,
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

Result Request::run(const SetOption& o, const Params&) {
  for (const auto& name : o.options) {
    if (name == "NOCOUNT") s_.nocount = o.value == "ON";
    if (name == "IMPLICIT_TRANSACTIONS") s_.implicit_transactions = o.value == "ON";
    if (name == "LANGUAGE") s_.language = o.value;
  }
  return {};
}

Result Request::run(const Use& u, const Params&) {
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

Result Request::run(const Print& p, const Params& params) {
  Cell v = eval(p.expr, params, nullptr);
  emit(sql_message(0, 0, 1, text_of(v)));
  return {};
}

Result Request::run(const If& f, const Params& params) {
  if (truthy(eval(f.condition, params, nullptr))) return execute(*f.then_branch, params);
  if (f.else_branch) return execute(*f.else_branch, params);
  return {};
}

}  // namespace standin::detail
