// EXEC and RPC calls of system procedures: arguments bound by name or position,
// then the procedure of its family.

#include "executor_internal.h"

#include <algorithm>

namespace standin::detail {

Result Request::run(const Exec& e, const Params& params) {
  int ret = 0;
  Result r = exec(e, params, &ret);
  sink_.return_status(ret);
  return r;
}

// Matches the call's arguments to the procedure's parameters.
bool Request::bind(const std::string& proc, const std::vector<std::string>& names, size_t required,
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

Result Request::exec(const Exec& e, const Params& params, int* ret) {
  Result r;
  r.proc = true;
  std::string name = sql_lower(e.proc);
  if (auto dot = name.rfind('.'); dot != std::string::npos) name = name.substr(dot + 1);
  *ret = 1;
  ProcArgs a;
  ++in_proc_depth_;
  struct Depth {
    int& d;
    ~Depth() { --d; }
  } depth{in_proc_depth_};
  if (name == "sp_executesql") {
    if (!bind("sp_executesql", {"@stmt", "@params"}, 1, Exec{e.proc, {}, {}}, params, a)) return r;
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
          throw SqlError(
              {sql_message(137, 15, 2, "Must declare the scalar variable \"" + arg.text + "\".")});
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
  } else if (name == "xp_instance_regwrite") {
    *ret = xp_instance_regwrite(e, params);
  } else if (!extended_procedure(name, e, params, ret)) {
    emit(sql_message(
        2812, 16, 62,
        "Could not find stored procedure '" + (e.written.empty() ? e.proc : e.written) + "'."));
    return r;
  }
  return r;
}

}  // namespace standin::detail
