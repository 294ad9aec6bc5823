// One connection through the FreeTDS ODBC driver: the diagnostics of every
// call in order, and the first row's values of a query.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dbsetup::testing {

using Message = std::pair<int, std::string>;

class OdbcClient {
 public:
  OdbcClient() {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
  }
  ~OdbcClient() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  // FreeTDS logs on with NTLM by itself when UID holds a backslash; `more`
  // adds connection string options.
  bool connect(int port, const std::string& uid, const std::string& pwd,
               const std::string& more = {}) {
    std::string cs = "DRIVER=FreeTDS;SERVER=127.0.0.1;PORT=" + std::to_string(port) +
                     ";UID=" + uid + ";PWD=" + pwd + ";ClientCharset=UTF-8" + more;
    SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, (SQLCHAR*)cs.c_str(), SQL_NTS, nullptr, 0,
                                    nullptr, SQL_DRIVER_NOPROMPT);
    collect(SQL_HANDLE_DBC, dbc_);
    connected_ = SQL_SUCCEEDED(rc);
    if (connected_) SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt_);
    return connected_;
  }

  // Runs a statement and drains every result; returns the first return code.
  SQLRETURN exec(const std::string& sql) {
    SQLRETURN first = SQLExecDirect(stmt_, (SQLCHAR*)sql.c_str(), SQL_NTS);
    for (SQLRETURN rc = first; rc != SQL_NO_DATA && rc != SQL_INVALID_HANDLE;
         rc = SQLMoreResults(stmt_))
      collect(SQL_HANDLE_STMT, stmt_);
    return first;
  }

  // The first row's value in `column`, "<error>" when the statement failed and
  // "<no rows>" when it returned none. `param` is bound as its one parameter;
  // `prepare` prepares the statement before it runs.
  std::string value(const std::string& sql, const std::optional<std::string>& param = {},
                    bool prepare = false, SQLUSMALLINT column = 1) {
    SQLLEN ind = SQL_NTS;
    if (param)
      SQLBindParameter(stmt_, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR, 128, 0,
                       (SQLPOINTER)param->c_str(), static_cast<SQLLEN>(param->size()), &ind);
    SQLRETURN rc = prepare ? SQLPrepare(stmt_, (SQLCHAR*)sql.c_str(), SQL_NTS) : SQL_SUCCESS;
    if (SQL_SUCCEEDED(rc))
      rc = prepare ? SQLExecute(stmt_) : SQLExecDirect(stmt_, (SQLCHAR*)sql.c_str(), SQL_NTS);
    collect(SQL_HANDLE_STMT, stmt_);
    std::string out = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA ? "<no rows>" : "<error>";
    if (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(SQLFetch(stmt_))) {
      char buf[256] = {};
      SQLLEN got = 0;
      SQLGetData(stmt_, column, SQL_C_CHAR, buf, sizeof buf, &got);
      out = got == SQL_NULL_DATA ? "<null>" : buf;
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    return out;
  }

  SQLHSTMT stmt() const { return stmt_; }
  std::vector<Message> messages;

 private:
  void collect(SQLSMALLINT type, SQLHANDLE h) {
    for (SQLSMALLINT i = 1;; ++i) {
      SQLCHAR state[6], text[1024];
      SQLINTEGER native = 0;
      SQLSMALLINT len = 0;
      if (!SQL_SUCCEEDED(SQLGetDiagRec(type, h, i, state, &native, text, sizeof text, &len))) break;
      std::string t(reinterpret_cast<char*>(text), static_cast<size_t>(len));
      auto cut = t.rfind("[SQL Server]");
      messages.push_back({native, cut == std::string::npos ? t : t.substr(cut + 12)});
    }
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;
  bool connected_ = false;
};

}  // namespace dbsetup::testing
