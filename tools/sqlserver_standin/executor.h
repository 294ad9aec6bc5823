#pragma once

// Runs requests against the server state the way SQL Server answers them:
// result sets, messages with SQL Server's numbers and texts, DONE tokens.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ntlm.h"
#include "server_state.h"
#include "sql.h"
#include "tds.h"

namespace standin {

// Test controls shared by every connection.
class Controls {
 public:
  // "REGEX:NUMBER:TEXT": the first statement matching REGEX fails with that error.
  // Throws std::invalid_argument when the text has no ":NUMBER:".
  void add_failure(const std::string& option);
  void add_drop(const std::string& regex);
  // "N:..." in front of either: the first N-1 matching statements pass.
  void add_failure_nth(const std::string& option);
  void add_drop_nth(const std::string& option);
  // The same for logons, matched against the login name.
  void add_login_failure(const std::string& option);
  void add_login_drop(const std::string& regex);
  // The error for this statement, used up on the first match.
  std::optional<ServerMessage> take_failure(const std::string& statement);
  bool should_drop(const std::string& statement) const;
  std::optional<ServerMessage> take_login_failure(const std::string& login);
  bool should_drop_login(const std::string& login) const;

  double restore_seconds = 0;  // RESTORE DATABASE and RESTORE VERIFYONLY
  double backup_seconds = 0;
  std::optional<int> restore_fail_at;   // percent
  std::optional<int> stall_restore_at;  // percent; then silence until the client leaves
  bool silent_logon = false;            // read PRELOGIN and LOGIN7, answer nothing

 private:
  struct Failure {
    std::regex pattern;
    ServerMessage message;
    int skip = 0;  // matches to let through first
    int seen = 0;
    bool used = false;
  };
  struct Drop {
    std::regex pattern;
    int skip = 0;
    mutable int seen = 0;
  };
  static Failure parse_failure(const std::string& option, uint8_t cls);
  static std::optional<ServerMessage> take(std::vector<Failure>& list, const std::string& text);
  static bool drop(const std::vector<Drop>& list, const std::string& text);

  mutable std::mutex mutex_;
  std::vector<Failure> failures_;
  std::vector<Drop> drops_;
  std::vector<Failure> login_failures_;
  std::vector<Drop> login_drops_;
};

struct Session {
  int spid = 0;
  std::string login;
  std::string database = "master";
  std::string language = "us_english";
  bool nocount = false;
  bool implicit_transactions = false;
  int trancount = 0;
  uint64_t transaction_id = 0;
  // Statements prepared with sp_prepare / sp_prepexec: handle -> text, parameter names.
  std::map<int32_t, std::pair<std::string, std::vector<std::string>>> prepared;
  int32_t next_handle = 1;
};

// Where the answer goes, token by token.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual void message(const ServerMessage& m) = 0;
  virtual void result_set(const ResultSet& rs) = 0;
  virtual void done(uint8_t token, uint16_t status, uint16_t curcmd, uint64_t count) = 0;
  virtual void return_status(int32_t value) = 0;
  virtual void return_value(uint16_t ordinal, const std::string& name, int32_t value) = 0;
  virtual void env_change(uint8_t type, const std::string& new_value,
                          const std::string& old_value) = 0;
  // ENVCHANGE for a transaction that began (8), committed (9) or rolled back (10).
  virtual void transaction_change(uint8_t type, uint64_t id) = 0;
  // Sends what has been written so far, before the answer is complete.
  virtual void flush() = 0;
  // Waits; false when the client cancelled (attention) meanwhile.
  virtual bool wait(std::chrono::milliseconds ms) = 0;
  // A server that hangs: reads and ignores everything, attentions included,
  // until the client goes away.
  virtual void stall() {}
};

// What one request did, for the log.
struct Outcome {
  std::vector<ServerMessage> messages;
  uint64_t rows = 0;
  bool cancelled = false;
  bool failed() const;
  std::vector<int32_t> errors() const;
  std::vector<int32_t> infos() const;
};

struct LoginOutcome {
  bool ok = false;
  std::string database;
  std::vector<ServerMessage> messages;  // errors when !ok; 5701 etc. are the connection's
  std::string login;                    // the login's name as the server has it, when ok
};

class Executor {
 public:
  Executor(ServerState& state, Controls& controls, std::string server_name = "STANDIN");

  // Checks name and password and the database to open.
  LoginOutcome login(const std::string& user, const std::string& password,
                     const std::string& database);
  // Checks a Windows logon (executor_authentication.cpp): the account's NTLM
  // answer to `challenge`, its login and the database to open.
  LoginOutcome windows_login(const ntlm::Authenticate& answer, const ntlm::Challenge& challenge,
                             const std::string& database);

  void batch(Session& s, const std::string& sql, Sink& sink, Outcome& out);
  void rpc(Session& s, const RpcRequest& req, Sink& sink, Outcome& out);
  // The statement text of an RPC: sp_executesql's statement, else "name params".
  static std::string rpc_statement(const RpcRequest& req);
  // The statement parameters of sp_executesql / sp_prepexec by declared name
  // ("@P1" -> value, null for NULL), also when the client sends them unnamed.
  static nlohmann::json rpc_bound_parameters(const RpcRequest& req);

  const std::string& server_name() const { return server_name_; }
  ServerState& state() { return state_; }
  Controls& controls() { return controls_; }

 private:
  // A login whose credentials passed: its state and the database it opens.
  // The caller holds the state's mutex.
  LoginOutcome admit(const Login& l, const std::string& user, const std::string& database);

  ServerState& state_;
  Controls& controls_;
  std::string server_name_;
};

// Message helpers with SQL Server's numbers, classes, states and texts.
ServerMessage sql_message(int32_t number, uint8_t cls, uint8_t state, std::string text,
                          std::string proc = {}, int32_t line = 1);

}  // namespace standin
