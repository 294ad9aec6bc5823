// The login procedures: sp_addlogin, sp_droplogin, sp_defaultdb, sp_password and
// the server role memberships.

#include "executor_internal.h"

#include <algorithm>

namespace standin::detail {

int Request::sp_droplogin(const std::string& login) {
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
                     q(login) + " is not a valid login or you do not have permission.", proc, 40));
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

int Request::sp_addlogin(const std::string& login, const std::string& password,
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

int Request::srvrolemember(const std::string& proc, const std::string& login,
                           const std::string& role, bool add) {
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
                     q(login) + " is not a valid login or you do not have permission.", proc, 40));
    return 1;
  }
  if (add)
    l->roles.insert(r);
  else
    l->roles.erase(r);
  st_.save();
  return 0;
}

int Request::sp_defaultdb(const std::string& login, const std::string& dbname) {
  const std::string proc = "sp_defaultdb";
  std::lock_guard<std::mutex> lock(st_.mutex);
  Login* l = st_.find_login(login);
  if (!l) {
    emit(sql_message(15007, 16, 1,
                     q(login) + " is not a valid login or you do not have permission.", proc, 37));
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

int Request::sp_password(const std::optional<std::string>& old, const std::string& password,
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

}  // namespace standin::detail
