// The least an ODBC program must do to send the installer's statements: plain
// wide-character ODBC calls through the FreeTDS driver, no detection, no
// window, no message handling. db_setup_bench runs it beside db_setup_cli
// against the same stand-in to see what the installer costs on top.
//
// Usage: minimal_client PLAN
// The plan holds one step a line, fields separated by tabs:
//   connect  SERVER PORT DATABASE LOGIN PASSWORD
//   exec     STATEMENT
//   query    STATEMENT-WITH-ONE-? PARAMETER
//   disconnect
// A statement the server refuses does not stop the plan (the installer goes
// on past sp_droplogin's error as well); a refused logon does. Prints the
// number of refused statements on stderr.

#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// UTF-8 to SQLWCHAR units (UTF-16).
std::vector<SQLWCHAR> wide(const std::string& s) {
  std::vector<SQLWCHAR> out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    char32_t cp = c;
    std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (len > 1) cp = c & (0x7F >> len);
    for (std::size_t k = 1; k < len && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<SQLWCHAR>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<SQLWCHAR>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<SQLWCHAR>(cp));
    }
  }
  return out;
}

std::vector<std::string> split_tabs(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

// Reads every result of the statement to its end.
void drain(SQLHSTMT stmt) {
  SQLRETURN rc;
  do {
    SQLSMALLINT columns = 0;
    if (SQL_SUCCEEDED(SQLNumResultCols(stmt, &columns)) && columns > 0) {
      while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        SQLWCHAR value[256];
        SQLLEN indicator = 0;
        SQLGetData(stmt, 1, SQL_C_WCHAR, value, sizeof value, &indicator);
      }
    }
    rc = SQLMoreResults(stmt);
  } while (SQL_SUCCEEDED(rc));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: minimal_client PLAN\n");
    return 64;
  }
  std::ifstream plan(argv[1]);
  if (!plan) {
    std::fprintf(stderr, "minimal_client: cannot read %s\n", argv[1]);
    return 64;
  }

  SQLHENV env = SQL_NULL_HANDLE;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLHDBC dbc = SQL_NULL_HANDLE;
  int refused = 0;

  std::string line;
  while (std::getline(plan, line)) {
    const std::vector<std::string> f = split_tabs(line);
    if (f.empty()) continue;
    if (f[0] == "connect" && f.size() == 6) {
      SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
      std::vector<SQLWCHAR> text =
          wide("DRIVER={FreeTDS};Server={" + f[1] + "};Port={" + f[2] +
               "};ClientCharset={UTF-8};Encryption={request};TDS_Version={7.4};Database={" + f[3] +
               "};UID={" + f[4] + "};PWD={" + f[5] + "};APP={db_setup};");
      text.push_back(0);
      SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr,
                                       SQL_DRIVER_NOPROMPT);
      if (!SQL_SUCCEEDED(rc)) {
        std::fprintf(stderr, "minimal_client: logon as %s refused\n", f[4].c_str());
        return 1;
      }
    } else if (f[0] == "disconnect") {
      SQLDisconnect(dbc);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      dbc = SQL_NULL_HANDLE;
    } else if ((f[0] == "exec" && f.size() == 2) || (f[0] == "query" && f.size() == 3)) {
      SQLHSTMT stmt = SQL_NULL_HANDLE;
      SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
      std::vector<SQLWCHAR> param;
      SQLLEN param_bytes = 0;
      if (f[0] == "query") {
        param = wide(f[2]);
        param_bytes = static_cast<SQLLEN>(param.size() * sizeof(SQLWCHAR));
        SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                         param.empty() ? 1 : param.size(), 0, param.data(), param_bytes,
                         &param_bytes);
      }
      std::vector<SQLWCHAR> text = wide(f[1]);
      SQLRETURN rc = SQLExecDirectW(stmt, text.data(), static_cast<SQLINTEGER>(text.size()));
      if (rc == SQL_ERROR) ++refused;
      if (rc != SQL_ERROR && rc != SQL_INVALID_HANDLE) drain(stmt);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    } else {
      std::fprintf(stderr, "minimal_client: bad plan line: %s\n", line.c_str());
      return 64;
    }
  }
  if (dbc) {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  std::fprintf(stderr, "minimal_client: %d statement(s) refused\n", refused);
  return 0;
}
