#pragma once

// Private to the executor: one request (a batch or an RPC) run against the
// server state. The statements are defined by family in the executor_*.cpp
// files named below; executor.cpp holds the public entry points.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "executor.h"

namespace standin::detail {

constexpr uint16_t kCmdSelect = 0xC1;
constexpr uint16_t kCmdExecute = 0xE0;

// A value quoted the way SQL Server's procedure messages quote it.
inline std::string q(const std::string& s) { return "'" + s + "'"; }

// The result of one statement.
struct Result {
  bool error = false;
  bool count = false;
  uint64_t rows = 0;
  uint16_t curcmd = 0;
  bool proc = false;
};

// Thrown when the client cancelled the request (attention) or went away.
struct Cancelled {};

using Params = std::map<std::string, std::optional<std::string>>;  // lower-case name -> value

// A backup device's path as written, or the value of the parameter it names.
std::string device_path(const std::string& disk, const Params& params);
// "N pages in S seconds (R MB/sec).", the end of BACKUP's and RESTORE's 3014
// message, for the time since `started`.
std::string pages_in_time(int64_t pages, std::chrono::steady_clock::time_point started);

// A table that SELECT can read.
struct Table {
  std::vector<Column> columns;
  std::vector<std::map<std::string, Cell>> rows;  // lower-case column name -> value
};

// executor_backup_lists.cpp: RESTORE HEADERONLY's and FILELISTONLY's rows.
ResultSet header_list(const Profile& profile, const Backup& b, const std::string& server);
ResultSet file_list(const Profile& profile, const Backup& b);

class Request {
 public:
  Request(Executor& ex, Session& s, Sink& sink, Outcome& out)
      : ex_(ex), st_(ex.state()), s_(s), sink_(sink), out_(out) {}

  // executor_request.cpp: batches, RPCs, statement lists, transactions, SET, USE, PRINT, IF
  void run_batch(const std::string& sql);
  void run_rpc(const RpcRequest& req);

 private:
  void emit(const ServerMessage& m);
  void emit_rows(const ResultSet& rs);
  // Sends `rs` as the answer of a SELECT and returns its outcome.
  Result select_result(const ResultSet& rs);
  bool names_equal(const std::string& a, const std::string& b) const;
  bool run_statements(const std::vector<Statement>& stmts, bool in_proc, const Params& params = {});
  Result execute(const Statement& stmt, const Params& params);
  bool executesql(const std::string& stmt, const Params& params, int& ret);
  void begin_transaction();
  static std::atomic<uint64_t>& transaction_counter();
  Result run(const Transaction& t, const Params&);
  Result run(const SetOption& o, const Params&);
  Result run(const Use& u, const Params&);
  Result run(const Print& p, const Params& params);
  Result run(const If& f, const Params& params);

  // executor_functions.cpp: expressions, @@ variables, built-in functions
  static bool is_null(const Cell& c) { return std::holds_alternative<std::monostate>(c); }
  static std::string text_of(const Cell& c);
  static bool truthy(const Cell& c);
  static std::optional<int64_t> as_int(const Cell& c);
  int compare(const Cell& a, const Cell& b);
  Cell global(const std::string& name);
  Cell server_property(const std::string& name);
  Cell eval(const ExprPtr& e, const Params& params, const std::map<std::string, Cell>* row);
  Cell binary(const ExprPtr& e, const Params& params, const std::map<std::string, Cell>* row);
  Cell function(const ExprPtr& e, const Params& params, const std::map<std::string, Cell>* row);

  // executor_select.cpp: the system tables and SELECT
  Table table(const Select& s);
  void files_table(bool catalog, Table& t);
  static bool is_count(const ExprPtr& e);
  Result run(const Select& s, const Params& params);

  // executor_databases.cpp: CREATE DATABASE, DROP DATABASE
  bool may_create_databases() { return st_.has_role(s_.login, "dbcreator"); }
  Result run(const CreateDatabase& c, const Params&);
  Result run(const DropDatabase& d, const Params&);

  // executor_restore.cpp: RESTORE and the backup files it reads
  std::string terminating(const Restore& r);
  std::optional<Backup> open_backup(const Restore& r, const Params& params);
  bool restorable(const Restore& r, const Backup& b);
  Result run(const Restore& r, const Params& params);
  Result restore_database(const Restore& r, const Params& params);
  void set_status(const std::string& dbname, const std::string& status);
  void progress_and_finish(const Restore& r, const Backup& b, const std::string& dbname,
                           int64_t pages);
  // Progress from 0 to 100 percent in the profile's strides, 3211 at each
  // STATS step, `seconds` spread over the way. Stops at the first stride past
  // `stop_after` and returns false. Called without the state locked.
  bool advance(std::optional<int> stats, double seconds, int stop_after, bool restore_controls);
  // 3203 for a backup that ends before its data does.
  ServerMessage read_past_end();

  // executor_backup.cpp: BACKUP DATABASE and RESTORE VERIFYONLY
  Result run(const BackupDatabase& b, const Params& params);
  Result verify(const Restore& r, const Backup& b);

  // executor_files.cpp: the extended procedures on the disk, the drives' free space
  struct Shortfall {
    char letter;
    int64_t needed, available;
  };
  // xp_fileexist, xp_create_subdir, xp_fixeddrives; false for another name.
  bool extended_procedure(const std::string& name, const Exec& e, const Params& params, int* ret);
  // The first drive without room for `writes`, the files at the same paths
  // among `replaced` giving their space back.
  std::optional<Shortfall> shortfall(const std::vector<DbFile>& writes,
                                     const std::vector<DbFile>& replaced);
  void take_space(const std::vector<DbFile>& files, int sign);  // +1 takes, -1 gives back
  ServerMessage no_room(const DbFile& file);                    // 5149

  // executor_procedures.cpp: EXEC, binding arguments to a system procedure
  struct ProcArgs {
    std::vector<std::optional<std::string>> values;
    std::vector<bool> given;
  };
  Result run(const Exec& e, const Params& params);
  bool bind(const std::string& proc, const std::vector<std::string>& names, size_t required,
            const Exec& e, const Params& params, ProcArgs& out);
  Result exec(const Exec& e, const Params& params, int* ret);

  // executor_logins.cpp: logins and server roles
  int sp_droplogin(const std::string& login);
  int sp_addlogin(const std::string& login, const std::string& password,
                  const std::optional<std::string>& defdb);
  int srvrolemember(const std::string& proc, const std::string& login, const std::string& role,
                    bool add);
  int sp_defaultdb(const std::string& login, const std::string& dbname);
  int sp_password(const std::optional<std::string>& old, const std::string& password,
                  const std::string& login);
  Result run(const CreateLogin& c, const Params&);
  // The password policy's verdict on a new login's password, when it refuses it.
  std::optional<ServerMessage> password_refusal(const std::string& login,
                                                const std::string& password);

  // executor_authentication.cpp: ALTER LOGIN, the authentication mode in the registry
  Result run(const AlterLogin& a, const Params&);
  int xp_instance_regwrite(const Exec& e, const Params& params);

  // executor_configuration.cpp: sp_configure and RECONFIGURE
  Result run(const Reconfigure&, const Params&);
  int sp_configure(const std::optional<std::string>& name, const std::optional<std::string>& value);

  Executor& ex_;
  ServerState& st_;
  Session& s_;
  Sink& sink_;
  Outcome& out_;
  bool error_ = false;
  int in_proc_depth_ = 0;
  std::string restore_disk_;
};

}  // namespace standin::detail
