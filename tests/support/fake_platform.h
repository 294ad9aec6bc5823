#pragma once

#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace dbsetup::testing {

// `text` as an ECMAScript regular expression that matches it literally.
inline std::string regex_literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

// Registry held in a map; key and value names compare without letter case.
class FakeRegistry : public Registry {
 public:
  void set_string(const std::string& key, const std::string& name, const std::string& value);
  void set_multi(const std::string& key, const std::string& name, std::vector<std::string> values);
  bool get_string(const std::string& key, const std::string& name, std::string& value) override;
  bool get_multi_string(const std::string& key, const std::string& name,
                        std::vector<std::string>& values) override;
  void set_dword(const std::string& key, const std::string& name, uint32_t value);
  bool get_dword(const std::string& key, const std::string& name, uint32_t& value) override;
  // Every (key, name) read, in order.
  std::vector<std::pair<std::string, std::string>> reads;

 private:
  std::map<std::string, std::string> strings_;
  std::map<std::string, std::vector<std::string>> multis_;
  std::map<std::string, uint32_t> dwords_;
};

struct FakeFiles : FileSystem {
  std::string cwd = "C:\\setup";
  std::set<std::string> existing;
  std::string current_directory() override { return cwd; }
  bool exists(const std::string& path) override { return existing.count(path) > 0; }
  bool remove(const std::string& path) override { return existing.erase(path) > 0; }
};

// Profile values keyed by file, section and key (compared as given).
struct FakeProfile : ProfileReader {
  std::map<std::string, std::map<std::string, std::string>>
      files;  // file -> "section/key" -> value
  void set(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value) {
    files[file][section + "/" + key] = value;
  }
  std::string read(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& default_value) override;
};

// One call the fake client received.
struct DbCall {
  enum Kind { Connect, Disconnect, Execute, Query, QueryRows } kind;
  std::string text;   // statement text (Execute, Query)
  std::string param;  // Query parameter
  DbLogon logon;      // Connect
};

// A scripted database client: every call is recorded; the answer comes from
// the first rule whose pattern matches ("CONNECT <login> @<server>" for a
// logon, the statement text otherwise), else success. Rules may fire once or
// always.
class FakeDbClient : public DbClient {
 public:
  struct Rule {
    std::regex pattern;
    DbResult result;
    std::string value;  // for queries: the fetched column
    bool once = false;
    bool used = false;
    std::vector<DbMessage> messages;  // sent to the handler before answering
    DbTable table;                    // for query_rows
  };
  struct Script {
    std::vector<Rule> rules;
    std::vector<DbCall> calls;
    std::string server_version = "16.00.1000";  // what the logon reported
    bool shared_memory = false;                 // a driver that speaks shared memory
  };

  explicit FakeDbClient(std::shared_ptr<Script> script) : script_(std::move(script)) {}

  DbResult connect(const DbLogon& logon) override;
  DbResult disconnect() override;
  DbResult execute(const std::string& sql) override;
  DbResult query_one(const std::string& sql, const std::string& param, std::string& value) override;
  DbResult query_rows(const std::string& sql, DbTable& table) override;
  std::string server_version() override { return script_->server_version; }
  bool shared_memory() override { return script_->shared_memory; }
  void set_message_handler(DbMessageHandler handler) override { handler_ = std::move(handler); }

 private:
  // Records the call; the first rule that answers `subject`, if any.
  Rule* answer(DbCall call, const std::string& subject);
  std::shared_ptr<Script> script_;
  DbMessageHandler handler_;
};

// A service manager holding services in the states the test gives them.
// Starting and stopping take effect at once and are recorded; `on_change`
// lets a test act as the service (restart a stand-in server).
struct FakeServices : Services {
  std::map<std::string, ServiceState> states;
  std::map<std::string, std::vector<std::string>> dependants;  // running ones are stopped first
  std::string refusal;             // start and stop fail with this text when set
  std::vector<std::string> calls;  // "start X", "stop X"
  std::function<void(const std::string& name, ServiceState now)> on_change;

  ServiceState query(const std::string& name) override {
    auto it = states.find(name);
    return it == states.end() ? ServiceState::Missing : it->second;
  }
  bool start(const std::string& name, std::string& error) override {
    calls.push_back("start " + name);
    return change(name, ServiceState::Running, error);
  }
  bool stop(const std::string& name, std::vector<std::string>& stopped,
            std::string& error) override {
    calls.push_back("stop " + name);
    for (const std::string& d : dependants[name]) {
      if (query(d) != ServiceState::Running) continue;
      if (!change(d, ServiceState::Stopped, error)) return false;
      stopped.push_back(d);
    }
    return change(name, ServiceState::Stopped, error);
  }
  bool wait(const std::string& name, ServiceState state, std::chrono::milliseconds) override {
    return query(name) == state;
  }

 private:
  bool change(const std::string& name, ServiceState to, std::string& error) {
    if (!refusal.empty()) {
      error = refusal;
      return false;
    }
    if (query(name) == ServiceState::Missing) {
      error = "The specified service does not exist as an installed service.";
      return false;
    }
    states[name] = to;
    if (on_change) on_change(name, to);
    return true;
  }
};

// A clock that shows the time it is set to.
struct FakeClock : Clock {
  LocalTime time{2026, 3, 9, 18, 5, 7};
  LocalTime now() override { return time; }
};

// A platform made of fakes, with a shared script for every client it makes.
struct FakePlatform {
  FakeRegistry registry;
  FakeFiles files;
  FakeProfile profile;
  FakeClock clock;
  FakeServices services;
  std::shared_ptr<FakeDbClient::Script> script = std::make_shared<FakeDbClient::Script>();
  Platform platform{&registry, &files,
                    &profile,  [s = script] { return std::make_unique<FakeDbClient>(s); },
                    &clock,    &services};

  // Adds a rule: `pattern` is an ECMAScript regex searched in the subject.
  FakeDbClient::Rule& on(const std::string& pattern, DbResult result, bool once = false,
                         std::string value = {});
  // Makes RESTORE HEADERONLY and FILELISTONLY describe a backup of one set
  // written by `version` ("16.0") whose files have these logical names, with
  // the data file 2 MB and the log file 1 MB big.
  void backup_holds(const std::string& data, const std::string& log,
                    const std::string& version = "16.0");
  // Answers a query that `pattern` matches with these rows.
  FakeDbClient::Rule& rows(const std::string& pattern, std::vector<std::string> columns,
                           std::vector<std::vector<std::string>> rows);
  std::vector<std::string> statements() const;  // Execute and Query texts, in order
};

}  // namespace dbsetup::testing
