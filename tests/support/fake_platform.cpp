#include "support/fake_platform.h"

#include <algorithm>
#include <cctype>

namespace dbsetup::testing {

namespace {

// Where a value is kept: key and name without letter case.
std::string slot(const std::string& key, const std::string& name) {
  std::string out = key + "|" + name;
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// Copies the value stored under `key` (or an empty one) and tells whether there was one.
template <class T>
bool find_in(const std::map<std::string, T>& map, const std::string& key, T& value) {
  const auto it = map.find(key);
  value = it == map.end() ? T{} : it->second;
  return it != map.end();
}

}  // namespace

void FakeRegistry::set_string(const std::string& key, const std::string& name,
                              const std::string& value) {
  strings_[slot(key, name)] = value;
}

void FakeRegistry::set_multi(const std::string& key, const std::string& name,
                             std::vector<std::string> values) {
  multis_[slot(key, name)] = std::move(values);
}

bool FakeRegistry::get_string(const std::string& key, const std::string& name, std::string& value) {
  reads.emplace_back(key, name);
  return find_in(strings_, slot(key, name), value);
}

bool FakeRegistry::get_multi_string(const std::string& key, const std::string& name,
                                    std::vector<std::string>& values) {
  reads.emplace_back(key, name);
  return find_in(multis_, slot(key, name), values);
}

void FakeRegistry::set_dword(const std::string& key, const std::string& name, uint32_t value) {
  dwords_[slot(key, name)] = value;
}

bool FakeRegistry::get_dword(const std::string& key, const std::string& name, uint32_t& value) {
  reads.emplace_back(key, name);
  return find_in(dwords_, slot(key, name), value);
}

std::string FakeProfile::read(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& default_value) {
  auto f = files.find(file);
  if (f == files.end()) return default_value;
  auto v = f->second.find(section + "/" + key);
  return v == f->second.end() ? default_value : v->second;
}

FakeDbClient::Rule* FakeDbClient::answer(DbCall call, const std::string& subject) {
  script_->calls.push_back(std::move(call));
  for (auto& rule : script_->rules)
    if (!(rule.once && rule.used) && std::regex_search(subject, rule.pattern)) {
      rule.used = true;
      return &rule;
    }
  return nullptr;
}

DbResult FakeDbClient::connect(const DbLogon& logon) {
  Rule* rule =
      answer({DbCall::Connect, "", "", logon}, "CONNECT " + logon.login + " @" + logon.server);
  return rule ? rule->result : DbResult::ok();
}

DbResult FakeDbClient::disconnect() {
  script_->calls.push_back({DbCall::Disconnect, "", "", {}});
  return DbResult::ok();
}

DbResult FakeDbClient::execute(const std::string& sql) {
  Rule* rule = answer({DbCall::Execute, sql, "", {}}, sql);
  if (!rule) return DbResult::ok();
  if (handler_)
    for (const auto& m : rule->messages) handler_(m);
  return rule->result;
}

DbResult FakeDbClient::query_one(const std::string& sql, const std::string& param,
                                 std::string& value) {
  Rule* rule = answer({DbCall::Query, sql, param, {}}, sql);
  if (!rule) return {100, 0, ""};
  if (rule->result.code == 0) value = rule->value;
  return rule->result;
}

DbResult FakeDbClient::query_rows(const std::string& sql, DbTable& table) {
  Rule* rule = answer({DbCall::QueryRows, sql, "", {}}, sql);
  if (!rule) return {100, 0, ""};
  if (rule->result.code == 0) table = rule->table;
  return rule->result;
}

FakeDbClient::Rule& FakePlatform::on(const std::string& pattern, DbResult result, bool once,
                                     std::string value) {
  script->rules.push_back(
      {std::regex(pattern), std::move(result), std::move(value), once, false, {}, {}});
  return script->rules.back();
}

void FakePlatform::backup_holds(const std::string& data, const std::string& log,
                                const std::string& version) {
  const auto dot = version.find('.');
  on("^RESTORE HEADERONLY", DbResult::ok()).table = {
      {"BackupName", "BackupType", "Position", "DatabaseName", "SoftwareVersionMajor",
       "SoftwareVersionMinor"},
      {{"", "1", "1", "db", version.substr(0, dot), version.substr(dot + 1)}}};
  on("^RESTORE FILELISTONLY", DbResult::ok()).table = {
      {"LogicalName", "PhysicalName", "Type", "FileGroupName", "Size"},
      {{data, "C:\\orig\\" + data + ".mdf", "D", "PRIMARY", "2097152"},
       {log, "C:\\orig\\" + log + ".ldf", "L", "", "1048576"}}};
}

FakeDbClient::Rule& FakePlatform::rows(const std::string& pattern, std::vector<std::string> columns,
                                       std::vector<std::vector<std::string>> rows) {
  FakeDbClient::Rule& rule = on(pattern, DbResult::ok());
  rule.table = {std::move(columns), std::move(rows)};
  return rule;
}

std::vector<std::string> FakePlatform::statements() const {
  std::vector<std::string> out;
  for (const auto& c : script->calls)
    if (c.kind != DbCall::Connect && c.kind != DbCall::Disconnect) out.push_back(c.text);
  return out;
}

}  // namespace dbsetup::testing
