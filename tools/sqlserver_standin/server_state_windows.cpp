// The server state's Windows side: the accounts of the domain it trusts, the
// registry values written through it, the authentication mode, and a state
// file read back at a new start.

#include "server_state.h"

namespace standin {

namespace {

// Where the instance keeps its authentication mode; xp_instance_regwrite maps
// this path to the instance's own key.
const std::string kLoginMode =
    "hkey_local_machine\\software\\microsoft\\mssqlserver\\mssqlserver\\loginmode";

}  // namespace

WindowsAccount* ServerState::find_windows_account(const std::string& name) {
  // Windows compares account names without regard to letter case.
  for (auto& a : windows_accounts_)
    if (sql_lower(a.name) == sql_lower(name)) return &a;
  return nullptr;
}

void ServerState::add_windows_account(const std::string& name, const std::string& password) {
  if (WindowsAccount* a = find_windows_account(name)) {
    a->password = password;
    return;
  }
  windows_accounts_.push_back({name, password});
}

void ServerState::write_registry(const RegistryValue& v) { registry_[sql_lower(v.path)] = v; }

int ServerState::login_mode_at_next_start() const {
  auto it = registry_.find(kLoginMode);
  if (it != registry_.end() && sql_lower(it->second.type) == "reg_dword" &&
      (it->second.value == "1" || it->second.value == "2"))
    return it->second.value == "1" ? 1 : 2;
  return options_.windows_auth_only ? 1 : 2;
}

void ServerState::windows_to_json(nlohmann::json& j) const {
  j["windows_accounts"] = nlohmann::json::array();
  for (const auto& a : windows_accounts_)
    j["windows_accounts"].push_back({{"name", a.name}, {"password", a.password}});
  j["registry"] = nlohmann::json::array();
  for (const auto& [key, v] : registry_)
    j["registry"].push_back({{"path", v.path}, {"type", v.type}, {"value", v.value}});
  j["login_mode"] = {{"value", options_.windows_auth_only ? 1 : 2},
                     {"pending", login_mode_at_next_start()}};
}

void ServerState::load(const nlohmann::json& j) {
  logins_.clear();
  for (const auto& l : j.at("logins")) {
    Login& login = add_login(l.at("name"), l.value("password", ""));
    for (const auto& r : l.value("roles", std::vector<std::string>{})) login.roles.insert(r);
    login.default_database = l.value("default_database", "master");
    login.windows = l.value("windows", false);
    login.disabled = l.value("disabled", false);
  }
  windows_accounts_.clear();
  for (const auto& a : j.value("windows_accounts", nlohmann::json::array()))
    add_windows_account(a.at("name"), a.at("password"));
  databases_.clear();
  for (const auto& d : j.at("databases")) {
    Database db;
    db.name = d.at("name");
    db.owner = d.value("owner", "sa");
    db.status = d.value("status", "ONLINE");
    db.rollforward_ready = d.value("rollforward_ready", false);
    for (const auto& f : d.value("files", nlohmann::json::array())) {
      const std::string type = f.value("type", "D");
      const char t = type.size() == 1 && std::string("DLFS").find(type[0]) != std::string::npos
                         ? type[0]
                         : 'D';
      const auto pages = f.contains("pages") ? f.at("pages").get<int64_t>()
                                             : static_cast<int64_t>(f.value("size_mb", 1.0) * 128);
      db.files.push_back({f.at("logical"), f.at("physical"), t, pages});
    }
    databases_.push_back(std::move(db));
  }
  load_disk(j);
  const nlohmann::json configuration = j.value("configuration", nlohmann::json::object());
  for (const auto& [name, v] : configuration.items()) {
    for (auto& o : config_) {
      if (o.name != name) continue;
      o.running = v.value("value", o.running);
      o.value = v.value("pending", o.value);
    }
  }
  registry_.clear();
  for (const auto& v : j.value("registry", nlohmann::json::array()))
    write_registry({v.at("path"), v.at("type"), v.at("value")});
  // The mode the registry holds takes effect now; without a LoginMode value,
  // the mode the server last ran in.
  if (registry_.count(kLoginMode))
    options_.windows_auth_only = login_mode_at_next_start() == 1;
  else if (j.contains("login_mode"))
    options_.windows_auth_only = j["login_mode"].value("value", 2) == 1;
}

}  // namespace standin
