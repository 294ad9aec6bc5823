#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/run_settings.h"
#include "platform/text_case.h"

namespace dbsetup {

// What a logon needs. `driver_name` is the connection's driver setting
// ("MSS Microsoft SQL Server", ...); the backend maps it to a real driver.
struct DbLogon {
  std::string driver_name;
  std::string server;  // host, host,port or host\instance
  std::string database;
  std::string login;
  std::string password;
  bool autocommit = true;
  std::string parameters;  // extra driver options, usually empty
};

// Outcome of one operation on the connection.
//   code: 0 success, -1 failure, 100 no row (single-row query only)
//   native_error: the server's message number of the first error, 0 if none
//   text: the server's error messages without driver prefixes, one a line
//   unreachable: the server could not be reached (a logon), or the connection
//     is gone; false for a server that answered with a refusal
struct DbResult {
  int32_t code = 0;
  int32_t native_error = 0;
  std::string text;
  bool unreachable = false;

  static DbResult ok() { return {}; }
  static DbResult failure(int32_t native, std::string message) {
    return {-1, native, std::move(message), false};
  }
};

// An informational message from the server (class 10 and below), delivered
// in the order it arrives, possibly on the thread that runs the statement.
struct DbMessage {
  int32_t number = 0;
  int32_t severity = 0;
  std::string text;
};
using DbMessageHandler = std::function<void(const DbMessage&)>;

// The first result set of a statement: its column names and every row, each
// column as text (NULL as the empty string).
struct DbTable {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;

  // The position of the column of that name (ASCII letters compared without
  // case), or -1 when the result has none.
  int column(std::string_view name) const {
    for (std::size_t i = 0; i < columns.size(); ++i)
      if (equal_ascii_ignoring_case(columns[i], name)) return static_cast<int>(i);
    return -1;
  }
};

// A connection to Microsoft SQL Server. One object holds at most one
// connection; every call blocks until the server has answered.
class DbClient {
 public:
  virtual ~DbClient() = default;

  virtual DbResult connect(const DbLogon& logon) = 0;
  // Harmless when not connected.
  virtual DbResult disconnect() = 0;
  // Sends one statement text as it stands and drains every result and message.
  virtual DbResult execute(const std::string& sql) = 0;
  // Runs `sql`, which holds exactly one `?` marker bound to `param` as a
  // wide-string parameter, and fetches the first column of the first row.
  // code 100 and an empty `value` when no row comes back.
  virtual DbResult query_one(const std::string& sql, const std::string& param,
                             std::string& value) = 0;
  // Runs `sql` (no parameters) and fetches its first result set: the column
  // names and every row. code 100 when no row.
  virtual DbResult query_rows(const std::string& sql, DbTable& table) = 0;
  // The server's version as the logon reported it, "major.minor.build"
  // ("16.00.1000"); empty when not connected or not known.
  virtual std::string server_version() = 0;
  virtual void set_message_handler(DbMessageHandler handler) = 0;
  // Whether the driver can reach a server on this machine through shared
  // memory ("lpc:(local)\\INSTANCE"), as Microsoft's drivers on Windows can.
  virtual bool shared_memory() { return false; }
  // Stops the statement that is running on another thread, which then fails,
  // and makes every later statement fail at once; a logoff still works. Safe
  // to call from any thread at any time. A backend that cannot stop a
  // statement lets it run to its end.
  virtual void cancel() {}
};

using DbClientFactory = std::function<std::unique_ptr<DbClient>()>;

// The ODBC backend (wide-character API), with the run's timeouts and driver.
// Defined in odbc_client.cpp.
std::unique_ptr<DbClient> make_odbc_client(const RunSettings& settings = {});

}  // namespace dbsetup
