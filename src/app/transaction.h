#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/db_client.h"

namespace dbsetup {

// The program's one database connection (`sqlca`): its settings, read when a
// logon starts, and the three results of the last operation.
class Transaction {
 public:
  explicit Transaction(std::unique_ptr<DbClient> backend = nullptr);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Settings.
  std::string dbms;        // driver name
  std::string servername;  // server name or address
  std::string database;
  std::string logid;    // login
  std::string logpass;  // password
  bool autocommit = false;
  std::string dbparm;  // connection parameters

  // Results of the last operation.
  int32_t sqlcode = 0;    // 0 success, -1 failure, 100 no row
  int32_t sqldbcode = 0;  // the server's native error number
  std::string sqlerrtext;
  bool sqlunreachable = false;  // the server could not be reached, or the connection is gone

  void connect();
  void disconnect();
  void execute_immediate(const std::string& sql);
  // `sql` holds one `?` marker for `param`; the first column of the first row
  // goes into `value` (left as it was when no row comes back).
  void select_one(const std::string& sql, const std::string& param, std::string& value);

  // The first result set: its column names and every row, each column as text.
  void select_rows(const std::string& sql, DbTable& table);
  // The server's version as its logon reported it ("16.00.1000"); empty when
  // not connected or not known. Leaves the three results as they are.
  std::string server_version();
  bool shared_memory() { return backend_ && backend_->shared_memory(); }

  // Stops the running statement from another thread (the operator
  // interrupted the program): it fails, and so does every later logon,
  // statement and query, while a logoff still works. Safe from any thread.
  void cancel();
  bool cancelled() const { return cancelled_; }

  void set_message_handler(DbMessageHandler handler);
  void set_backend(std::unique_ptr<DbClient> backend);
  DbClient* backend() { return backend_.get(); }
  bool connected() const { return connected_; }

 private:
  void take(const DbResult& result);
  // False, with the reason as the last result, when no logon, statement or
  // query can run: there is no client, or the operator interrupted.
  bool ready();

  std::unique_ptr<DbClient> backend_;
  DbMessageHandler handler_;
  bool connected_ = false;
  std::atomic<bool> cancelled_{false};
};

}  // namespace dbsetup
