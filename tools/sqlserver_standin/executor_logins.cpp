// Logins: CREATE LOGIN and the password policy, the procedures sp_addlogin,
// sp_droplogin, sp_defaultdb, sp_password and the server role memberships.

#include "executor_internal.h"

#include <algorithm>

namespace standin::detail {

namespace {

// The refusals the login procedures share, at the procedure's line.
ServerMessage no_permission(const std::string& proc, int line) {
  return sql_message(15247, 16, 1, "User does not have permission to perform this action.", proc,
                     line);
}
ServerMessage not_a_login(const std::string& login, const std::string& proc, int line) {
  return sql_message(15007, 16, 1,
                     q(login) + " is not a valid login or you do not have permission.", proc, line);
}
ServerMessage cannot_alter(const std::string& login, const std::string& proc, int line) {
  return sql_message(15151, 16, 1,
                     "Cannot alter the login '" + login +
                         "', because it does not exist or you do not have permission.",
                     proc, line);
}

// How many of the four sets a password draws on: upper case, lower case,
// digits and everything else.
int character_sets(const std::string& password) {
  bool upper = false, lower = false, digit = false, other = false;
  for (unsigned char c : password) {
    if (c >= 'A' && c <= 'Z')
      upper = true;
    else if (c >= 'a' && c <= 'z')
      lower = true;
    else if (c >= '0' && c <= '9')
      digit = true;
    else if (c < 0x80 || (c & 0xC0) == 0xC0)  // one per character, not per UTF-8 byte
      other = true;
  }
  return upper + lower + digit + other;
}

size_t characters(const std::string& utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace

std::optional<ServerMessage> Request::password_refusal(const std::string& login,
                                                       const std::string& password) {
  const StateOptions& o = st_.settings();
  if (!o.profile.checks_password_policy()) return std::nullopt;
  // The account name counts only from three characters on.
  bool has_name =
      characters(login) >= 3 && sql_lower(password).find(sql_lower(login)) != std::string::npos;
  bool complex = character_sets(password) >= 3 && !has_name;
  if (o.profile.linux_host) {
    if (characters(password) >= 8 && complex) return std::nullopt;
    return sql_message(33064, 16, 1,
                       "Password validation failed. The password does not meet SQL Server "
                       "password policy requirements because it is not complex enough. The "
                       "password must be at least 8 characters long and contain characters from "
                       "three of the following four sets: Uppercase letters, Lowercase letters, "
                       "Base 10 digits, and Symbols.");
  }
  if (!o.domain_password_policy) return std::nullopt;
  const std::string head =
      "Password validation failed. The password does not meet the operating system policy "
      "requirements because it is ";
  if (characters(password) < 7) return sql_message(15116, 16, 1, head + "too short.");
  if (!complex) return sql_message(15118, 16, 1, head + "not complex enough.");
  return std::nullopt;
}

Result Request::run(const CreateLogin& c, const Params&) {
  std::lock_guard<std::mutex> lock(st_.mutex);
  if (!st_.settings().profile.checks_password_policy()) {
    emit(sql_message(343, 15, 1,
                     "Unknown object type 'LOGIN' used in a CREATE, DROP, or ALTER statement."));
    return {};
  }
  if (!st_.has_role(s_.login, "securityadmin")) {
    emit(sql_message(15247, 16, 1, "User does not have permission to perform this action."));
    return {};
  }
  if (st_.find_login(c.name)) {
    emit(sql_message(15025, 16, 2, "The server principal '" + c.name + "' already exists."));
    return {};
  }
  if (c.check_policy) {
    if (auto refusal = password_refusal(c.name, c.password)) {
      emit(*refusal);
      return {};
    }
  }
  Login& l = st_.add_login(c.name, c.password);
  if (c.default_database) {
    const Database* d = st_.find_database(*c.default_database);
    l.default_database = d ? d->name : *c.default_database;
  }
  st_.save();
  return {};
}

int Request::sp_droplogin(const std::string& login) {
  const std::string proc = "sp_droplogin";
  std::lock_guard<std::mutex> lock(st_.mutex);
  if (!st_.has_role(s_.login, "securityadmin")) {
    emit(no_permission(proc, 33));
    return 1;
  }
  Login* l = st_.find_login(login);
  if (!l) {
    emit(not_a_login(login, proc, 40));
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
    emit(no_permission(proc, 17));
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
  // Since 2005 sp_addlogin creates the login as CREATE LOGIN does, policy included.
  if (auto refusal = password_refusal(login, password)) {
    refusal->proc = proc;
    refusal->line = 1;
    emit(*refusal);
    return 1;
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
    emit(no_permission(proc, 27));
    return 1;
  }
  if (!known) {
    emit(sql_message(15402, 16, 1, q(role) + " is not a fixed server role.", proc, 33));
    return 1;
  }
  Login* l = st_.find_login(login);
  if (!l) {
    emit(not_a_login(login, proc, 40));
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
    emit(not_a_login(login, proc, 37));
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
    emit(cannot_alter(login, proc, 53));
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
    emit(cannot_alter(login, proc, 48));
    return 1;
  }
  if (self && !st_.has_role(s_.login, "securityadmin") && old.value_or("") != l->password) {
    emit(cannot_alter(login, proc, 48));
    return 1;
  }
  l->password = password;
  st_.save();
  emit(sql_message(15478, 0, 1, "Password changed.", proc, 60));
  return 0;
}

}  // namespace standin::detail
