// The ODBC backend of the connection `sqlca`. Only the wide-character entry
// points are called: SQLWCHAR is a 16-bit unit on every platform we build for
// (wchar_t on Windows, unsigned short under unixODBC), so texts travel as
// UTF-16 and are UTF-8 everywhere else in the program.

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/db_client.h"
#include "platform/odbc_driver_version.h"
#include "platform/odbc_text.h"
#include "platform/server_address.h"

namespace dbsetup {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "SQLWCHAR must be a 16-bit unit");

// The server's severity class of a diagnostic record (SQL Server drivers'
// own field; FreeTDS knows it too).
constexpr SQLSMALLINT kDiagSeverity = -1151;

// Safety net against a driver that never stops offering results.
constexpr int kMaxResultSteps = 1'000'000;

constexpr const char* kNotConnected = "Transaction not connected";
constexpr const char* kCancelled = "Operation canceled";
constexpr const char* kFreeTdsSplitsValue =
    "The FreeTDS ODBC driver cannot take a server name, login or password that contains \"};\".";
// SQL Server takes logins and passwords of up to 128 characters.
constexpr std::size_t kMaxLoginChars = 128;
constexpr const char* kLoginTooLong =
    "A login or password of more than 128 characters cannot be sent to SQL Server.";

std::u16string wide(std::string_view text) { return utf8_to_utf16(text); }

SQLWCHAR* wptr(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

std::string narrow(const SQLWCHAR* text, std::size_t units) {
  return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), units));
}

bool driver_error(SQLRETURN rc) { return rc == SQL_ERROR || rc == SQL_INVALID_HANDLE; }

// Every diagnostic record the handle holds now, in order.
std::vector<odbc::Diagnostic> read_diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<odbc::Diagnostic> out;
  if (!handle) return out;
  SQLWCHAR text[1024];
  std::vector<SQLWCHAR> longer;  // for a text that does not fit
  for (SQLSMALLINT record = 1; record < 10'000; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLWCHAR* buffer = text;
    SQLSMALLINT capacity = 1024;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, buffer, capacity, &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= capacity && length < 32'000) {
      longer.resize(static_cast<std::size_t>(length) + 1);
      buffer = longer.data();
      capacity = static_cast<SQLSMALLINT>(longer.size());
      rc = SQLGetDiagRecW(type, handle, record, state, &native, buffer, capacity, &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    const std::size_t units = std::min<std::size_t>(
        length < 0 ? 0 : static_cast<std::size_t>(length), static_cast<std::size_t>(capacity) - 1);

    odbc::Diagnostic diag;
    diag.state = narrow(state, 5);
    diag.native = native;
    diag.text = odbc::strip_driver_prefixes(narrow(buffer, units));
    while (!diag.text.empty() && (diag.text.back() == '\n' || diag.text.back() == '\r'))
      diag.text.pop_back();
    SQLINTEGER severity = -1;
    if (SQL_SUCCEEDED(SQLGetDiagFieldW(type, handle, record, kDiagSeverity, &severity,
                                       SQL_IS_INTEGER, nullptr)))
      diag.severity = severity;
    out.push_back(std::move(diag));
  }
  return out;
}

// The records a call that returned `rc` left. SQL_SUCCESS comes with none
// (only SQL_SUCCESS_WITH_INFO, SQL_ERROR, SQL_NO_DATA and the like have
// them), so the driver manager is not asked then: an install makes about
// three such calls a statement, and each ask costs about as much as
// fetching a row.
std::vector<odbc::Diagnostic> read_diagnostics(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle) {
  if (rc == SQL_SUCCESS) return {};
  return read_diagnostics(type, handle);
}

// Frees an ODBC handle when it goes out of scope.
struct HandleGuard {
  SQLSMALLINT type;
  SQLHANDLE handle = SQL_NULL_HANDLE;
  ~HandleGuard() {
    if (handle) SQLFreeHandle(type, handle);
  }
};

// The names of a result set's columns, in order ("" where the driver has none).
std::vector<std::string> column_names(SQLHSTMT stmt, SQLSMALLINT columns) {
  std::vector<std::string> names;
  for (SQLSMALLINT c = 1; c <= columns; ++c) {
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    SQLSMALLINT type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(SQLDescribeColW(stmt, static_cast<SQLUSMALLINT>(c), name, 256, &length,
                                       &type, &size, &digits, &nullable)))
      length = 0;
    names.push_back(narrow(name, std::min<std::size_t>(length < 0 ? 0 : length, 255)));
  }
  return names;
}

// Which way a FreeTDS driver reads braces depends on its release. It is
// decided once per driver and process, from the version the driver reports:
// before the first logon its library is asked (the driver manager answers
// SQL_DRIVER_VER only on a connection), and a connection confirms it. A
// driver that tells nothing is taken for the release this program is built
// and tested with (1.3). Values that read alike either way need neither.
std::mutex g_braces_mutex;
std::map<std::string, odbc::FreeTdsBraces>& known_braces() {
  static std::map<std::string, odbc::FreeTdsBraces> known;
  return known;
}

odbc::FreeTdsBraces freetds_braces(const DbLogon& logon, const std::string& driver) {
  {
    std::lock_guard<std::mutex> lock(g_braces_mutex);
    auto it = known_braces().find(driver);
    if (it != known_braces().end()) return it->second;
  }
  // Loading the driver's library and its own dependencies ahead of the
  // driver manager costs more than the rest of a logon: only done when the
  // connection string depends on the answer.
  if (odbc::connection_string(logon, driver, odbc::FreeTdsBraces::verbatim) ==
      odbc::connection_string(logon, driver, odbc::FreeTdsBraces::doubled))
    return odbc::FreeTdsBraces::verbatim;
  const auto style = odbc::freetds_style(odbc::driver_library_version(driver));
  std::lock_guard<std::mutex> lock(g_braces_mutex);
  if (style) known_braces()[driver] = *style;
  return style.value_or(odbc::FreeTdsBraces::verbatim);
}

void remember_freetds_braces(const std::string& driver, odbc::FreeTdsBraces style) {
  std::lock_guard<std::mutex> lock(g_braces_mutex);
  known_braces()[driver] = style;
}

// What to keep of the first result set that has columns.
enum class Keep { nothing, first_value, all_rows };

class OdbcClient final : public DbClient {
 public:
  explicit OdbcClient(RunSettings settings) : settings_(std::move(settings)) {}
  ~OdbcClient() override {
    disconnect();
    if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  DbResult connect(const DbLogon& logon) override;
  DbResult disconnect() override;
  DbResult execute(const std::string& sql) override;
  DbResult query_one(const std::string& sql, const std::string& param, std::string& value) override;
  DbResult query_rows(const std::string& sql, DbTable& table) override;
  std::string server_version() override;
  bool shared_memory() override;
  void set_message_handler(DbMessageHandler handler) override { handler_ = std::move(handler); }
  void cancel() override;

 private:
  // Registers the statement that is about to run, for cancel() to reach it;
  // false when a cancel has come already.
  bool start_statement(SQLHSTMT stmt);
  void end_statement();

  bool ensure_environment(odbc::Outcome& outcome);
  DbResult attempt(const DbLogon& logon, const std::string& driver, odbc::FreeTdsBraces style);
  void learn_freetds_style(const std::string& driver);
  std::string driver_for();
  // Runs `sql` on a fresh statement (with `param` bound to its one marker
  // when given) and drains every result and message it produces.
  DbResult run(const std::string& sql, const std::string* param, Keep keep, DbTable* table);
  void drain(SQLHSTMT stmt, SQLRETURN rc, odbc::Outcome& outcome, Keep keep, DbTable* table,
             bool& got_rows);
  bool read_column(SQLHSTMT stmt, SQLUSMALLINT column, std::string& out, odbc::Outcome& outcome);
  void drop_connection();

  const RunSettings settings_;
  SQLHENV env_ = SQL_NULL_HANDLE;
  SQLHDBC dbc_ = SQL_NULL_HANDLE;
  bool autocommit_ = true;
  DbMessageHandler handler_;
  std::atomic<bool> cancelled_{false};
  std::mutex running_mutex_;  // guards running_ against cancel()
  SQLHSTMT running_ = SQL_NULL_HANDLE;
};

void OdbcClient::cancel() {
  cancelled_ = true;
  std::lock_guard lock(running_mutex_);
  // SQLCancel on a statement that another thread is executing sends the
  // server an attention; the execution then ends with SQLSTATE HY008.
  if (running_) SQLCancel(running_);
}

bool OdbcClient::start_statement(SQLHSTMT stmt) {
  std::lock_guard lock(running_mutex_);
  if (cancelled_) return false;
  running_ = stmt;
  return true;
}

void OdbcClient::end_statement() {
  std::lock_guard lock(running_mutex_);
  running_ = SQL_NULL_HANDLE;
}

bool OdbcClient::ensure_environment(odbc::Outcome& outcome) {
  if (env_) return true;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
    env_ = SQL_NULL_HANDLE;
    outcome.fail("Cannot allocate an ODBC environment.");
    return false;
  }
  // ODBC 3 (not 3.80): FreeTDS reports messages between results only then.
  SQLRETURN rc =
      SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                    reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0);
  if (!SQL_SUCCEEDED(rc)) {
    outcome.step(true, read_diagnostics(SQL_HANDLE_ENV, env_));
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
    env_ = SQL_NULL_HANDLE;
    return false;
  }
  return true;
}

std::string OdbcClient::driver_for() {
  const char* override_value = settings_.odbc_driver.c_str();
  std::vector<std::string> installed;
#ifdef _WIN32
  if (!override_value || !*override_value) {
    SQLWCHAR name[256];
    SQLWCHAR attributes[1024];
    SQLSMALLINT name_length = 0;
    SQLSMALLINT attributes_length = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDriversW(env_, direction, name, 256, &name_length, attributes, 1024,
                                     &attributes_length))) {
      installed.push_back(narrow(name, std::min<std::size_t>(name_length, 255)));
      direction = SQL_FETCH_NEXT;
    }
  }
  constexpr bool windows = true;
#else
  constexpr bool windows = false;
#endif
  return odbc::choose_driver(override_value ? override_value : "", installed, windows);
}

DbResult OdbcClient::connect(const DbLogon& logon) {
  if (dbc_) disconnect();
  {
    odbc::Outcome outcome(&handler_);
    if (!ensure_environment(outcome)) return outcome.result();
  }
  // A malformed address is refused rather than left for the driver to
  // guess at.
  if (std::string problem = server_address_problem(logon.server); !problem.empty())
    return DbResult::failure(0, problem);
  // FreeTDS would cut a longer one short without a word, and a password cut
  // short may well be the right one.
  if (wide(logon.login).size() > kMaxLoginChars || wide(logon.password).size() > kMaxLoginChars)
    return DbResult::failure(0, kLoginTooLong);
  const std::string driver = driver_for();
  if (const std::string problem = odbc::authentication_problem(logon, driver); !problem.empty())
    return DbResult::failure(0, problem);
  if (odbc::is_freetds(driver) && odbc::freetds_splits_value(logon))
    return DbResult::failure(0, kFreeTdsSplitsValue);
  // One attempt only: a second one after a refusal would cost the login a
  // second failed-logon event on the server (and may trip its lockout).
  const bool freetds = odbc::is_freetds(driver);
  DbResult result = attempt(logon, driver,
                            freetds ? freetds_braces(logon, driver) : odbc::FreeTdsBraces::doubled);
  if (result.code == 0 && freetds) learn_freetds_style(driver);
  return result;
}

// What the connected driver says of its release settles the style for every
// later logon with it.
void OdbcClient::learn_freetds_style(const std::string& driver) {
  SQLWCHAR buffer[64] = {};
  SQLSMALLINT bytes = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_DRIVER_VER, buffer, sizeof(buffer), &bytes))) return;
  const std::size_t units = std::min<std::size_t>(bytes < 0 ? 0 : bytes / sizeof(SQLWCHAR), 63);
  if (auto style = odbc::freetds_style(narrow(buffer, units)))
    remember_freetds_braces(driver, *style);
}

DbResult OdbcClient::attempt(const DbLogon& logon, const std::string& driver,
                             odbc::FreeTdsBraces style) {
  odbc::Outcome outcome(&handler_);

  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
    outcome.step(true, read_diagnostics(SQL_HANDLE_ENV, env_));
    dbc_ = SQL_NULL_HANDLE;
    return outcome.result();
  }
  autocommit_ = logon.autocommit;
  // Attributes a driver does not know come back as warnings (IM006); they
  // never stop the logon.
  SQLSetConnectAttrW(
      dbc_, SQL_ATTR_LOGIN_TIMEOUT,
      reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(settings_.login_timeout_seconds)), 0);
  SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT,
                     reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(
                         logon.autocommit ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                     0);

  std::u16string text = wide(odbc::connection_string(logon, driver, style));
  SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, wptr(text), SQL_NTS, nullptr, 0, nullptr,
                                   SQL_DRIVER_NOPROMPT);
  outcome.step(driver_error(rc), read_diagnostics(rc, SQL_HANDLE_DBC, dbc_));
  if (rc == SQL_NO_DATA && !outcome.failed()) outcome.fail("The logon was cancelled.");
  if (outcome.failed()) {
    // A driver that reported an error yet connected is logged off again.
    if (SQL_SUCCEEDED(rc)) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HANDLE;
  }
  return outcome.result();
}

void OdbcClient::drop_connection() {
  if (!dbc_) return;
  if (!SQL_SUCCEEDED(SQLDisconnect(dbc_))) {
    SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
    SQLDisconnect(dbc_);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  dbc_ = SQL_NULL_HANDLE;
}

DbResult OdbcClient::disconnect() {
  if (!dbc_) return DbResult::ok();
  odbc::Outcome outcome(&handler_);
  // Work done without automatic commit is kept, as a logoff commits.
  if (!autocommit_) {
    SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT);
    outcome.step(driver_error(rc), read_diagnostics(rc, SQL_HANDLE_DBC, dbc_));
  }
  SQLRETURN rc = SQLDisconnect(dbc_);
  std::vector<odbc::Diagnostic> diags = read_diagnostics(rc, SQL_HANDLE_DBC, dbc_);
  // A connection the server already closed is gone all the same.
  bool lost = false;
  for (const odbc::Diagnostic& d : diags) lost = lost || odbc::is_connection_failure(d);
  if (!lost) outcome.step(driver_error(rc), diags);
  drop_connection();
  return outcome.result();
}

DbResult OdbcClient::execute(const std::string& sql) {
  return run(sql, nullptr, Keep::nothing, nullptr);
}

DbResult OdbcClient::query_one(const std::string& sql, const std::string& param,
                               std::string& value) {
  value.clear();
  DbTable table;
  DbResult result = run(sql, &param, Keep::first_value, &table);
  if (result.code == 0 && !table.rows.empty() && !table.rows.front().empty())
    value = table.rows.front().front();
  return result;
}

DbResult OdbcClient::query_rows(const std::string& sql, DbTable& table) {
  table = {};
  DbResult result = run(sql, nullptr, Keep::all_rows, &table);
  if (result.code != 0) table = {};
  return result;
}

// Microsoft's drivers reach a server on this machine through shared memory;
// FreeTDS, also under Wine, speaks TCP only.
bool OdbcClient::shared_memory() {
#ifdef _WIN32
  odbc::Outcome outcome(&handler_);
  return ensure_environment(outcome) && !odbc::is_freetds(driver_for());
#else
  return false;
#endif
}

// SQL_DBMS_VER needs no statement: the driver keeps what the server's logon
// acknowledgement said ("##.##.####").
std::string OdbcClient::server_version() {
  if (!dbc_) return {};
  SQLWCHAR buffer[64] = {};
  SQLSMALLINT bytes = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_DBMS_VER, buffer, sizeof(buffer), &bytes))) return {};
  const std::size_t units = std::min<std::size_t>(bytes < 0 ? 0 : bytes / sizeof(SQLWCHAR), 63);
  return narrow(buffer, units);
}

DbResult OdbcClient::run(const std::string& sql, const std::string* param, Keep keep,
                         DbTable* table) {
  if (!dbc_) return DbResult::failure(0, kNotConnected);
  odbc::Outcome outcome(&handler_);

  HandleGuard stmt{SQL_HANDLE_STMT};
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt.handle))) {
    stmt.handle = SQL_NULL_HANDLE;
    outcome.step(true, read_diagnostics(SQL_HANDLE_DBC, dbc_));
    return outcome.result();
  }

  if (!start_statement(stmt.handle)) {
    outcome.fail(kCancelled);
    return outcome.result();
  }
  // Unregistered before the handle is freed (also on the early returns):
  // cancel() must not reach a freed one.
  struct Running {
    OdbcClient& client;
    ~Running() { client.end_statement(); }
  } running{*this};

  // A bound on each silence of the server, not on the statement (see
  // RunSettings): a restore that keeps reporting runs on.
  SQLSetStmtAttrW(
      stmt.handle, SQL_ATTR_QUERY_TIMEOUT,
      reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(settings_.silence_timeout_seconds)), 0);

  // Both buffers must outlive the execution.
  std::u16string param_text;
  SQLLEN param_length = 0;
  if (param) {
    param_text = wide(*param);
    param_length = static_cast<SQLLEN>(param_text.size() * sizeof(char16_t));
    const SQLULEN units = param_text.empty() ? 1 : param_text.size();
    // nvarchar(4000) is the longest ordinary Unicode parameter.
    const SQLSMALLINT sql_type = units > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
    SQLRETURN rc = SQLBindParameter(stmt.handle, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, sql_type, units,
                                    0, wptr(param_text), param_length, &param_length);
    outcome.step(driver_error(rc), read_diagnostics(rc, SQL_HANDLE_STMT, stmt.handle));
    if (outcome.failed()) return outcome.result();
  }

  std::u16string text = wide(sql);
  SQLRETURN rc = SQLExecDirectW(stmt.handle, wptr(text), static_cast<SQLINTEGER>(text.size()));
  bool got_rows = false;
  drain(stmt.handle, rc, outcome, keep, table, got_rows);
  end_statement();
  // A cancel that reaches FreeTDS between two calls of this thread is
  // processed there and then, and the statement's remaining results are
  // dropped without an error: it did not run to its end all the same.
  if (cancelled_ && !outcome.failed()) outcome.fail(kCancelled);
  if (outcome.connection_lost()) {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt.handle);
    stmt.handle = SQL_NULL_HANDLE;
  } else {
    SQLFreeStmt(stmt.handle, SQL_CLOSE);
  }
  if (keep == Keep::nothing) return outcome.result(0);
  return outcome.result(got_rows ? 0 : 100);
}

void OdbcClient::drain(SQLHSTMT stmt, SQLRETURN rc, odbc::Outcome& outcome, Keep keep,
                       DbTable* table, bool& got_rows) {
  bool first_set_seen = false;
  for (int steps = 0; steps < kMaxResultSteps; ++steps) {
    std::vector<odbc::Diagnostic> diags = read_diagnostics(rc, SQL_HANDLE_STMT, stmt);
    const bool no_news = diags.empty();
    outcome.step(driver_error(rc), diags);
    // After a timeout FreeTDS answers every further SQLMoreResults with
    // SQL_ERROR and a fresh "Unknown error" record, forever.
    if (rc == SQL_INVALID_HANDLE || outcome.connection_lost() || outcome.timed_out()) return;
    // A cancelled statement has nothing more worth reading.
    if (cancelled_ && outcome.failed()) return;
    // A step that failed without saying anything will not say more later.
    if (rc == SQL_ERROR && no_news) return;
    // SQL_NO_DATA from the execution itself only means "no result set"
    // (FreeTDS answers CREATE, DROP and procedure calls that way); further
    // results may still follow, so only SQLMoreResults' SQL_NO_DATA ends it.
    if (SQL_SUCCEEDED(rc)) {
      SQLSMALLINT columns = 0;
      if (SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)) && columns > 0) {
        const bool keep_this = keep != Keep::nothing && !first_set_seen;
        first_set_seen = true;
        if (keep_this && keep == Keep::all_rows) table->columns = column_names(stmt, columns);
        for (;;) {
          SQLRETURN fetched = SQLFetch(stmt);
          if (fetched == SQL_NO_DATA) break;
          outcome.step(driver_error(fetched), read_diagnostics(fetched, SQL_HANDLE_STMT, stmt));
          if (!SQL_SUCCEEDED(fetched) || outcome.connection_lost()) break;
          if (!keep_this) continue;
          if (keep == Keep::first_value && got_rows) continue;
          got_rows = true;
          std::vector<std::string> row;
          const SQLSMALLINT wanted = keep == Keep::first_value ? 1 : columns;
          for (SQLSMALLINT c = 1; c <= wanted; ++c) {
            std::string value;
            if (!read_column(stmt, static_cast<SQLUSMALLINT>(c), value, outcome)) break;
            row.push_back(std::move(value));
          }
          table->rows.push_back(std::move(row));
        }
        if (outcome.connection_lost() || outcome.timed_out()) return;
      }
    }
    rc = SQLMoreResults(stmt);
    if (rc == SQL_NO_DATA) {
      outcome.step(false, read_diagnostics(SQL_HANDLE_STMT, stmt));
      return;
    }
  }
  outcome.fail("Too many results from one statement.");
}

bool OdbcClient::read_column(SQLHSTMT stmt, SQLUSMALLINT column, std::string& out,
                             odbc::Outcome& outcome) {
  std::u16string collected;
  SQLWCHAR buffer[2048];
  constexpr std::size_t kUnits = sizeof buffer / sizeof buffer[0];
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) {
      outcome.step(true, read_diagnostics(SQL_HANDLE_STMT, stmt));
      return false;
    }
    if (indicator == SQL_NULL_DATA) break;
    // A piece fills the buffer but for its terminator when more follows
    // (01004) or when the length is unknown.
    std::size_t units = kUnits - 1;
    if (indicator != SQL_NO_TOTAL && indicator >= 0)
      units = std::min<std::size_t>(units, static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR));
    collected.append(reinterpret_cast<const char16_t*>(buffer), units);
    if (rc == SQL_SUCCESS) break;
  }
  out = utf16_to_utf8(collected);
  return true;
}

}  // namespace

std::unique_ptr<DbClient> make_odbc_client(const RunSettings& settings) {
  return std::make_unique<OdbcClient>(settings);
}

}  // namespace dbsetup
