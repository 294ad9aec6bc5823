#include "platform/odbc_text.h"
#include "platform/text_case.h"
#include "platform/text_trim.h"

#include "platform/server_address.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

namespace dbsetup::odbc {

const std::vector<std::string> kWindowsDriverPreference = {
    "ODBC Driver 18 for SQL Server",
    "ODBC Driver 17 for SQL Server",
    "SQL Server Native Client 11.0",
    "SQL Server",
};

namespace {

std::string lower(std::string_view s) { return ascii_lower(s); }

bool all_digits(std::string_view s) {
  return !s.empty() &&
         std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string_view trim(std::string_view s) { return dbsetup::trim(s, " \t"); }

void add(std::string& out, std::string_view key, std::string_view value) {
  out.append(key);
  out.push_back('=');
  out.append(brace(value));
  out.push_back(';');
}

void add_raw(std::string& out, std::string_view key, std::string_view value) {
  out.append(key);
  out.push_back('=');
  out.append(value);
  out.push_back(';');
}

// Values that read the same whichever way FreeTDS treats braces.
bool freetds_neutral(std::string_view value) {
  if (value.find('}') == std::string_view::npos) return true;
  return value.find(';') == std::string_view::npos && value.front() != '{' &&
         value.front() != ' ' && value.back() != ' ';
}

}  // namespace

std::string choose_driver(std::string_view override_value,
                          const std::vector<std::string>& installed, bool windows) {
  if (!override_value.empty()) return std::string(override_value);
  if (!windows) return kFreeTdsDriver;
  for (const std::string& wanted : kWindowsDriverPreference) {
    const std::string key = lower(wanted);
    for (const std::string& have : installed)
      if (lower(have) == key) return wanted;
  }
  return kWindowsDriverPreference.back();
}

bool is_freetds(std::string_view driver) {
  const std::string d = lower(driver);
  return d.find("freetds") != std::string::npos || d.find("tdsodbc") != std::string::npos;
}

std::string brace(std::string_view value) {
  std::string out = "{";
  for (char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  out.push_back('}');
  return out;
}

std::string freetds_value(std::string_view value, FreeTdsBraces style) {
  if (value.find('}') == std::string_view::npos) return brace(value);
  if (freetds_neutral(value)) return std::string(value);
  if (style == FreeTdsBraces::doubled) return brace(value);
  std::string out;
  out.reserve(value.size() + 2);
  out.push_back('{');
  out.append(value);
  out.push_back('}');
  return out;
}

std::optional<FreeTdsBraces> freetds_style(std::string_view driver_version) {
  const std::string_view text = trim(driver_version);
  const auto dot = text.find('.');
  if (dot == std::string_view::npos) return std::nullopt;
  const std::string_view major = text.substr(0, dot);
  std::string_view minor = text.substr(dot + 1);
  minor = minor.substr(0, minor.find('.'));
  if (!all_digits(major) || !all_digits(minor) || major.size() > 4 || minor.size() > 4)
    return std::nullopt;
  const int a = std::stoi(std::string(major));
  const int b = std::stoi(std::string(minor));
  return a > 1 || (a == 1 && b >= 4) ? FreeTdsBraces::doubled : FreeTdsBraces::verbatim;
}

bool freetds_splits_value(const DbLogon& logon) {
  for (const std::string* v : {&logon.server, &logon.database, &logon.login, &logon.password})
    if (v->find("};") != std::string::npos) return true;
  return false;
}

std::optional<ServerAddress> parse_server(std::string_view server) {
  const auto parts = split_server_address(server);
  if (!parts) return std::nullopt;
  return ServerAddress{parts->host, parts->port, parts->instance};
}

std::string authentication_problem(const DbLogon& logon, const std::string& driver) {
  if (is_freetds(driver)) {
    if (!logon.login.empty()) return {};
    return "本机的 ODBC 驱动程序（FreeTDS）不能以当前登录的 Windows 用户身份连接。"
           "请在登录名中输入“域\\用户名”和该 Windows 帐户的密码，"
           "或输入 SQL Server 登录名（如 sa）和密码。";
  }
  if (logon.login.find('\\') == std::string::npos) return {};
  return "SQL Server 的 Windows ODBC 驱动程序只能以当前登录的 Windows 用户身份进行 Windows "
         "身份验证，不能使用其他 Windows 帐户。请将登录名留空（以当前 Windows 用户身份连接），"
         "或输入 SQL Server 登录名（如 sa）和密码。";
}

std::string connection_string(const DbLogon& logon, const std::string& driver,
                              FreeTdsBraces style) {
  const std::optional<ServerAddress> parsed = parse_server(logon.server);
  if (!parsed) return {};
  std::string out;
  add(out, "DRIVER", driver);
  const bool freetds = is_freetds(driver);
  auto value = [&](std::string_view key, std::string_view v) {
    if (freetds)
      add_raw(out, key, freetds_value(v, style));
    else
      add(out, key, v);
  };
  if (freetds) {
    ServerAddress address = *parsed;
    // SQL Server's tools read "." and "(local)" as this machine; FreeTDS
    // would look them up as host names.
    if (address.host == "." || lower(address.host) == "(local)") address.host = "127.0.0.1";
    // A port given beside an instance wins, as it does for SQL Server's tools;
    // only an instance alone is looked up through the SQL Server Browser.
    if (!address.instance.empty() && address.port.empty())
      value("Server", address.host + "\\" + address.instance);
    else
      value("Server", address.host);
    // A bare host means SQL Server's default port; FreeTDS has no default of
    // its own once the protocol version is given ("invalid port number").
    if (!address.port.empty())
      add(out, "Port", address.port);
    else if (address.instance.empty())
      add(out, "Port", "1433");
    // The wide API hands FreeTDS UTF-16; UTF-8 as its client character set
    // keeps every character, whatever the process locale is.
    add(out, "ClientCharset", "UTF-8");
    add(out, "Encryption", "request");
    // FreeTDS' default "auto" would retry a failed logon with every protocol
    // it knows, Sybase's included, each time waiting out the login timeout.
    // SQL Server answers 7.4 with the highest version it speaks itself.
    add(out, "TDS_Version", "7.4");
  } else {
    add(out, "Server", logon.server);
    // Driver 18 would insist on encryption; "Optional" restores the older
    // drivers' behaviour, and a self-signed certificate is accepted when the
    // server asks for encryption itself.
    const std::string d = lower(driver);
    add(out, "Encrypt", d.find("driver 18") != std::string::npos ? "Optional" : "no");
    add(out, "TrustServerCertificate", "yes");
  }
  value("Database", logon.database);
  if (!freetds && logon.login.empty()) {
    // Windows authentication: the signed-in user's own account, no password.
    add(out, "Trusted_Connection", "Yes");
  } else {
    value("UID", logon.login);
    value("PWD", logon.password);
  }
  add(out, "APP", kApplicationName);
  std::string_view extra = trim(logon.parameters);
  while (!extra.empty() && extra.front() == ';') extra.remove_prefix(1);
  out.append(extra);
  return out;
}

std::string strip_driver_prefixes(std::string_view text) {
  std::string_view rest = text;
  while (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string_view::npos) break;
    const std::string_view group = rest.substr(0, close + 1);
    rest.remove_prefix(close + 1);
    if (group == "[SQL Server]") break;
  }
  return std::string(rest);
}

bool is_informational(const Diagnostic& diag) {
  return diag.state.rfind("01", 0) == 0 || diag.state == "00000" || diag.state == "IM006";
}

bool is_connection_failure(const Diagnostic& diag) {
  return diag.state.rfind("08", 0) == 0 || diag.state == "HYT01";
}

bool is_timeout(const Diagnostic& diag) { return diag.state == "HYT00"; }

void Outcome::step(bool driver_error, const std::vector<Diagnostic>& diags) {
  if (driver_error) failed_ = true;
  // A failed step that brings no numbered error is explained by its class-01
  // records: FreeTDS reports a connection the server closed as 01000
  // "Unexpected EOF from the server" beside SQL_ERROR, or beside nothing but
  // its numberless "Unable to connect to data source" at a logon. Such
  // records are errors, not messages.
  const bool explained_by_warnings =
      driver_error && std::none_of(diags.begin(), diags.end(), [](const Diagnostic& d) {
        return !is_informational(d) && d.native != 0;
      });
  for (const Diagnostic& d : diags) {
    if (is_informational(d) && !explained_by_warnings) {
      if (handler_ && *handler_ && !d.text.empty()) {
        DbMessage message;
        message.number = d.native;
        message.severity = d.severity >= 0 ? d.severity : (d.native != 0 ? 10 : 0);
        message.text = d.text;
        (*handler_)(message);
      }
      continue;
    }
    failed_ = true;
    if (is_connection_failure(d)) connection_lost_ = true;
    if (is_timeout(d)) timed_out_ = true;
    // The server itself refused: the logon (28000: a wrong password, a
    // disabled login) or the database asked for (42000).
    if (d.state == "28000" || d.state == "42000") refused_ = true;
    if (!have_native_ && d.native != 0) {
      native_ = d.native;
      have_native_ = true;
    }
    errors_.emplace_back(d.native, d.text);
  }
}

void Outcome::fail(std::string text) {
  failed_ = true;
  errors_.emplace_back(0, std::move(text));
}

DbResult Outcome::result(int32_t success_code) const {
  if (!failed_) return {success_code, 0, {}};
  const bool numbered = have_native_;
  std::string text;
  std::string_view previous;
  for (const auto& [native, line] : errors_) {
    if (numbered && native == 0) continue;
    // Drivers repeat some of their own texts word for word; once is enough.
    if (line.empty() || line == previous) continue;
    previous = line;
    if (!text.empty()) text.push_back('\n');
    text += line;
  }
  if (text.empty()) text = "The ODBC driver reported a failure without a message.";
  DbResult result = DbResult::failure(native_, std::move(text));
  result.unreachable = unreachable();
  return result;
}

}  // namespace dbsetup::odbc
