#pragma once

// Text-level pieces of the ODBC client that need no driver: choosing the
// driver, building the connection string, reading the server field, cleaning
// message texts and turning a statement's diagnostics into one result.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db_client.h"

namespace dbsetup::odbc {

// Microsoft's drivers in order of preference, newest first.
extern const std::vector<std::string> kWindowsDriverPreference;
// The driver used where Microsoft's are not available.
inline constexpr const char* kFreeTdsDriver = "FreeTDS";
// The program's name in the server's list of sessions.
inline constexpr const char* kApplicationName = "db_setup";

// The ODBC driver for a SQL Server connection. A non-empty `override_value`
// wins. On Windows the first preferred driver found in `installed` (compared
// without letter case) is taken, "SQL Server" when none is; elsewhere FreeTDS.
std::string choose_driver(std::string_view override_value,
                          const std::vector<std::string>& installed, bool windows);

// True when `driver` names the FreeTDS driver (by name or library path).
bool is_freetds(std::string_view driver);

// A value in ODBC connection-string syntax: braced, with '}' doubled.
std::string brace(std::string_view value);

// How FreeTDS reads braced values. Up to release 1.3 it takes everything up
// to the first "};" as it stands (no doubling); later releases follow ODBC.
enum class FreeTdsBraces { verbatim, doubled };

// A value for FreeTDS. Values that both readings take alike (no '}'; or a
// '}' but no ';' and no leading '{' or blank, written bare) come out the same
// in either style; the others depend on `style`. Under `verbatim` a value
// holding "};" cannot be written at all.
std::string freetds_value(std::string_view value, FreeTdsBraces style);

// The style of the FreeTDS release whose driver reports this version
// (SQL_DRIVER_VER, "01.03.0017"): braces are doubled from release 1.4 on.
// Nothing when the text is no version.
std::optional<FreeTdsBraces> freetds_style(std::string_view driver_version);

// True when some value of `logon` holds "};". FreeTDS up to 1.3 ends a braced
// value there in either style and reads what follows as attributes of their
// own (another UID, Port or DumpFile), so such a logon must not be attempted.
bool freetds_splits_value(const DbLogon& logon);

// The server field as SQL Server's tools read it: "host", "host,port",
// "host\instance", "host\instance,port" (optionally "tcp:" in front; the
// forms of platform/server_address.h). nullopt for any other text: passed on,
// it could reach another server than the one meant.
struct ServerAddress {
  std::string host;
  std::string port;  // digits, or empty
  std::string instance;
};
std::optional<ServerAddress> parse_server(std::string_view server);

// Why `driver` cannot log on the way `logon` asks, in Chinese; empty when it
// can. An empty login asks for Windows authentication as the signed-in user,
// which Microsoft's drivers do and FreeTDS does not; a login "DOMAIN\\user"
// asks for that Windows account, which FreeTDS can do with its password
// (NTLM) and Microsoft's drivers cannot.
std::string authentication_problem(const DbLogon& logon, const std::string& driver);

// The full connection string for SQLDriverConnectW; empty when the server
// field is none of the forms parse_server() reads. `style` matters only for
// FreeTDS.
std::string connection_string(const DbLogon& logon, const std::string& driver,
                              FreeTdsBraces style = FreeTdsBraces::verbatim);

// Removes the "[vendor][driver][SQL Server]" prefix that drivers put in front
// of message texts. A server message that itself begins with a bracket keeps
// it: stripping stops after the "[SQL Server]" group.
std::string strip_driver_prefixes(std::string_view text);

// One diagnostic record, as read with SQLGetDiagRecW.
struct Diagnostic {
  std::string state;  // five-character SQLSTATE
  int32_t native = 0;
  int32_t severity = -1;  // the server's severity class, -1 when unknown
  std::string text;       // prefixes already stripped
};

// Informational: SQLSTATE class 01, "00000", and the driver manager's
// "IM006" (an attribute the driver refused, reported as a warning).
bool is_informational(const Diagnostic& diag);

// A connection that is gone: SQLSTATE class 08 or "HYT01".
bool is_connection_failure(const Diagnostic& diag);

// The driver gave up waiting for the server: "HYT00". It has cancelled the
// statement, or closed a connection whose server did not answer the cancel
// either; no further result of the statement will come.
bool is_timeout(const Diagnostic& diag);

// Collects what the steps of one operation report: informational records
// go to the handler at once, in order; errors are kept for the result. A
// step counts as failed when the driver said SQL_ERROR or when any record
// outside class 01 came with it, whatever the return code was. A failed step
// that brings only class-01 records is explained by them: they count as its
// errors.
class Outcome {
 public:
  explicit Outcome(const DbMessageHandler* handler) : handler_(handler) {}

  // `driver_error` is true for SQL_ERROR and SQL_INVALID_HANDLE.
  void step(bool driver_error, const std::vector<Diagnostic>& diags);
  // A failure of our own, not reported through a diagnostic.
  void fail(std::string text);

  bool failed() const { return failed_; }
  bool connection_lost() const { return connection_lost_; }
  bool timed_out() const { return timed_out_; }
  // The server was never reached or the connection is gone, and no server
  // refused a logon on its own account.
  bool unreachable() const { return (connection_lost_ || timed_out_) && !refused_; }
  // code -1 on failure (native number of the first error, every error text
  // one a line), otherwise `success_code` with no text. Where the server
  // explained the failure, the driver's own numberless summaries (FreeTDS'
  // "Unable to connect to data source") are left out.
  DbResult result(int32_t success_code = 0) const;

 private:
  const DbMessageHandler* handler_;
  bool failed_ = false;
  bool connection_lost_ = false;
  bool timed_out_ = false;
  bool refused_ = false;
  bool have_native_ = false;
  int32_t native_ = 0;
  std::vector<std::pair<int32_t, std::string>> errors_;  // native number, text
};

}  // namespace dbsetup::odbc
