// Authentication: Windows logons (an NTLM answer checked against the account
// of the domain), disabled logins (ALTER LOGIN ... ENABLE | DISABLE) and the
// authentication mode, which xp_instance_regwrite records in the registry for
// the next start.

#include "executor_internal.h"

namespace standin {

namespace {

// The answer to a Windows logon whose credentials Windows could not verify.
ServerMessage untrusted(const Profile& p, const std::string& name) {
  if (p.major < 9)
    return sql_message(18452, 14, 1,
                       "Login failed for user '" + name +
                           "'. Reason: Not associated with a trusted SQL Server connection.");
  return sql_message(18452, 14, 1,
                     "Login failed. The login is from an untrusted domain and cannot be used "
                     "with Windows Authentication.");
}

}  // namespace

LoginOutcome Executor::windows_login(const ntlm::Authenticate& answer,
                                     const ntlm::Challenge& challenge,
                                     const std::string& database) {
  LoginOutcome out;
  std::string name = answer.user.empty() ? "(null)" : answer.domain + "\\" + answer.user;
  if (auto f = controls_.take_login_failure(name)) {
    out.messages.push_back(*f);
    return out;
  }
  std::lock_guard<std::mutex> lock(state_.mutex);
  // Only an NTLMv2 response proves the password: LM and NTLMv1 are refused as
  // a domain that accepts NTLMv2 alone refuses them.
  WindowsAccount* account = state_.find_windows_account(name);
  if (!account || ntlm::response_kind(answer) != ntlm::Response::NtlmV2 ||
      !ntlm::verify_ntlmv2(answer, challenge, account->password)) {
    out.messages.push_back(untrusted(state_.settings().profile, name));
    return out;
  }
  // A valid Windows account without a login of its own has no access.
  Login* l = state_.find_login(account->name);
  if (!l || !l->windows) {
    out.messages.push_back(
        sql_message(18456, 14, 1, "Login failed for user '" + account->name + "'."));
    return out;
  }
  return admit(*l, account->name, database);
}

namespace detail {

Result Request::run(const AlterLogin& a, const Params&) {
  std::lock_guard<std::mutex> lock(st_.mutex);
  // ALTER LOGIN came with SQL Server 2005, as CREATE LOGIN did.
  if (st_.settings().profile.major < 9) {
    emit(sql_message(343, 15, 1,
                     "Unknown object type 'LOGIN' used in a CREATE, DROP, or ALTER statement."));
    return {};
  }
  // ALTER ANY LOGIN (securityadmin); a sysadmin's login also needs CONTROL
  // SERVER (sysadmin).
  Login* l = st_.find_login(a.name);
  bool allowed = st_.has_role(s_.login, "securityadmin") &&
                 (!l || !l->roles.count("sysadmin") || st_.has_role(s_.login, "sysadmin"));
  if (!l || !allowed) {
    emit(sql_message(15151, 16, 1,
                     "Cannot alter the login '" + a.name +
                         "', because it does not exist or you do not have permission."));
    return {};
  }
  l->disabled = !a.enable;
  st_.save();
  return {};
}

int Request::xp_instance_regwrite(const Exec& e, const Params& params) {
  const std::string proc = "xp_instance_regwrite";
  {
    std::lock_guard<std::mutex> lock(st_.mutex);
    if (!st_.has_role(s_.login, "sysadmin")) {
      emit(sql_message(229, 14, 5,
                       st_.settings().profile.major < 9
                           ? "EXECUTE permission denied on object '" + proc +
                                 "', database 'master', owner 'dbo'."
                           : "The EXECUTE permission was denied on the object '" + proc +
                                 "', database 'mssqlsystemresource', schema 'sys'."));
      return 1;
    }
  }
  ProcArgs a;
  if (!bind(proc, {"@rootkey", "@key", "@value_name", "@type", "@value"}, 5, e, params, a))
    return 1;
  auto part = [&](size_t i) {
    std::string s = a.values[i].value_or("");
    while (!s.empty() && s.back() == '\\') s.pop_back();
    while (!s.empty() && s.front() == '\\') s.erase(0, 1);
    return s;
  };
  std::lock_guard<std::mutex> lock(st_.mutex);
  st_.write_registry(
      {part(0) + "\\" + part(1) + "\\" + part(2), ascii_upper(part(3)), a.values[4].value_or("")});
  st_.save();
  return 0;
}

}  // namespace detail

}  // namespace standin
