// The first logon: the administrator's, to master. A server on this machine
// that cannot be reached is helped once in each of the ways its setup may
// have left it (its service stopped, TCP/IP off, the SQL Server Browser not
// running), and a server that lets only Windows logins in is offered the
// mixed mode that the install login needs.

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <tuple>

#include "install/install_run.h"
#include "platform/server_address.h"
#include "platform/text_case.h"

namespace dbsetup {

namespace {

constexpr const char* kConnectFailed = "连接数据库失败!";
constexpr const char* kRelogonFailed = "重新登录数据库失败!";
constexpr const char* kSqlServerKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server";
constexpr const char* kDefaultInstance = "MSSQLSERVER";
// How long a service may take to start or stop.
constexpr std::chrono::seconds kServiceWait{90};
// A server just started may refuse logons for a moment while it recovers
// its databases.
constexpr int kLogonsAfterStart = 5;
constexpr std::chrono::seconds kPauseBetweenLogons{2};
// SERVERPROPERTY('IsIntegratedSecurityOnly') is 1: Windows logins only.
constexpr const char* kMixedModeOn =
    "EXEC master.dbo.xp_instance_regwrite N'HKEY_LOCAL_MACHINE', "
    "N'Software\\Microsoft\\MSSQLServer\\MSSQLServer', N'LoginMode', REG_DWORD, 2";
constexpr const char* kWindowsOnly = "SELECT SERVERPROPERTY('IsIntegratedSecurityOnly')";

std::string lower(std::string_view s) { return ascii_lower(s); }

bool mentions(const std::string& text, std::initializer_list<const char*> words) {
  const std::string l = lower(text);
  return std::any_of(words.begin(), words.end(),
                     [&](const char* w) { return l.find(w) != std::string::npos; });
}

}  // namespace

std::optional<InstallRun::LocalServer> InstallRun::local_server() const {
  const auto parts = split_server_address(sqlca_.servername);
  if (!parts) return std::nullopt;
  const std::string host = lower(parts->host);
  if (host != "127.0.0.1" && host != "localhost" && host != "." && host != "(local)" &&
      host != "::1")
    return std::nullopt;
  LocalServer s;
  s.host = parts->host;
  s.instance = equal_ignoring_case(parts->instance, kDefaultInstance) ? "" : parts->instance;
  s.port_given = !parts->port.empty() || parts->shared_memory;
  s.service = s.instance.empty() ? kDefaultInstance : "MSSQL$" + s.instance;

  // SQL Server 2005 and later keep an instance's settings under the key that
  // "Instance Names\SQL" maps its name to (MSSQL16.SQLEXPRESS).
  Registry* registry = ctx_.platform.registry;
  std::string versioned;
  if (registry &&
      registry->get_string(std::string(kSqlServerKey) + "\\Instance Names\\SQL",
                           s.instance.empty() ? kDefaultInstance : s.instance, versioned) &&
      !versioned.empty()) {
    const std::string tcp =
        std::string(kSqlServerKey) + "\\" + versioned + "\\MSSQLServer\\SuperSocketNetLib\\Tcp";
    uint32_t enabled = 1;
    s.tcp_disabled = registry->get_dword(tcp, "Enabled", enabled) && enabled == 0;
    for (const char* value : {"TcpPort", "TcpDynamicPorts"}) {
      std::string port_text;
      if (s.port.empty() && registry->get_string(tcp + "\\IPAll", value, port_text)) {
        port_text = port_text.substr(0, port_text.find(','));
        if (!port_text.empty() && port_text != "0" &&
            std::all_of(port_text.begin(), port_text.end(),
                        [](char c) { return c >= '0' && c <= '9'; }))
          s.port = port_text;
      }
    }
  }
  return s;
}

void InstallRun::connect_to(const std::string& server) {
  sqlca_.servername = server;
  db([&] { sqlca_.connect(); });
}

// A logon that failed for want of a running server: its service is started
// (when the operator agrees), then each way around a closed protocol is
// tried once. Returns true once a logon succeeded.
bool InstallRun::help_local_server(const LocalServer& local, std::string& findings) {
  // What the operator's own address gave is what a failure reports.
  const std::string typed = sqlca_.servername;
  const auto first =
      std::make_tuple(sqlca_.sqlcode, sqlca_.sqldbcode, sqlca_.sqlerrtext, sqlca_.sqlunreachable);
  const auto give_up = [&] {
    sqlca_.servername = typed;
    std::tie(sqlca_.sqlcode, sqlca_.sqldbcode, sqlca_.sqlerrtext, sqlca_.sqlunreachable) = first;
    return false;
  };
  Services* services = ctx_.platform.services;
  if (services && services->query(local.service) == ServiceState::Stopped) {
    findings += "\n本机的 SQL Server 服务 " + local.service + " 没有运行。";
    if (!ask(gs_.gs_appname,
             "本机的 SQL Server 服务 " + local.service + " 没有运行。\n\n是否启动该服务？", kYes))
      return give_up();
    std::string error;
    if (!start_service(local.service, error)) {
      findings += "\n启动服务 " + local.service + " 失败：" + error;
      return give_up();
    }
    // Whatever the started server says now is its answer.
    return logon_after_start(typed);
  }
  if (!std::get<3>(first)) return false;
  if (local.tcp_disabled) {
    findings += "\n注册表显示此实例的 TCP/IP 协议已禁用（可在“SQL Server 配置管理器”中启用）。";
    if (sqlca_.shared_memory()) {
      const std::string lpc =
          "lpc:(local)" + (local.instance.empty() ? std::string() : "\\" + local.instance);
      ui_.set_status("正在通过共享内存连接 " + lpc + " ...");
      connect_to(lpc);
      if (sqlca_.sqlcode == 0) return true;
    }
  }
  if (!local.instance.empty() && !local.port_given && !local.port.empty()) {
    const std::string at = local.host + "," + local.port;
    ui_.set_status("正在连接端口 " + local.port + " ...");
    connect_to(at);
    if (sqlca_.sqlcode == 0) return true;
    findings += "\nSQL Server Browser 没有回答，按注册表中的端口 " + local.port + " 连接也失败了。";
  }
  return give_up();
}

bool InstallRun::start_service(const std::string& service, std::string& error) {
  Services& services = *ctx_.platform.services;
  ui_.set_status("正在启动 SQL Server 服务 " + service + " ...");
  bool started = false;
  db([&] {
    started = services.start(service, error) &&
              services.wait(service, ServiceState::Running, kServiceWait);
  });
  if (started) return true;
  if (error.empty()) error = "服务没有在规定的时间内启动。";
  return false;
}

// Logs on to a server whose service has just started; a few attempts while
// it is not ready to be reached yet.
bool InstallRun::logon_after_start(const std::string& server) {
  for (int attempt = 0; attempt < kLogonsAfterStart; ++attempt) {
    if (attempt > 0) db([] { std::this_thread::sleep_for(kPauseBetweenLogons); });
    connect_to(server);
    if (sqlca_.sqlcode == 0 || !sqlca_.sqlunreachable) break;
  }
  return sqlca_.sqlcode == 0;
}

std::string InstallRun::logon_hint(const std::string& findings) const {
  const std::string& text = sqlca_.sqlerrtext;
  std::string hint;
  if (sqlca_.sqldbcode == 18456 || sqlca_.sqldbcode == 18452 || sqlca_.sqldbcode == 18470)
    hint =
        "登录名或密码不正确，或该登录名（如 sa）已被禁用，或服务器只允许 Windows "
        "身份验证。请检查登录名和密码；使用 Windows 身份验证时，登录名留空（或输入“域\\"
        "用户名”）。";
  else if (mentions(text, {"certificate", "ssl", "tls", "encrypt", "handshake"}))
    hint =
        "服务器拒绝了加密连接，或不接受其证书。请检查服务器的“强制加密”设置和证书，"
        "或更新本机的 ODBC 驱动程序。";
  else if (sqlca_.sqlunreachable)
    hint =
        "找不到服务器或无法连接。请检查服务器地址（命名实例写作“计算机名\\实例名”），"
        "并确认 SQL Server 服务已启动、已启用 TCP/IP 协议；命名实例还需要 SQL Server "
        "Browser 服务在运行。";
  if (hint.empty() && findings.empty()) return {};
  return "\n\n提示：" + hint + findings;
}

bool InstallRun::logon_master() {
  ui_.set_status("准备连接数据库...");
  sqlca_.dbms = ed_.driver_name;
  sqlca_.servername = page().server;
  sqlca_.database = "master";
  sqlca_.logpass = page().password;
  sqlca_.logid = page().login;
  sqlca_.autocommit = true;
  sqlca_.dbparm = "";
  db([&] { sqlca_.connect(); });
  std::string findings;
  if (sqlca_.sqlcode != 0 && !sqlca_.cancelled()) {
    if (const auto local = local_server()) help_local_server(*local, findings);
  }
  if (sqlca_.sqlcode != 0)
    return fail(-1, kConnectFailed, gs_.gs_appname, sqlca_.sqlerrtext + logon_hint(findings),
                Field::password);
  ui_.set_status("数据库连接成功!");
  return check_authentication_mode();
}

// The install login is a SQL Server login: a server that lets only Windows
// logins in must first be switched to mixed mode, which takes effect when
// its service starts again.
bool InstallRun::check_authentication_mode() {
  DbTable answer;
  ls_sql_ = kWindowsOnly;
  if (!rows(answer) || answer.rows[0].empty() || answer.rows[0][0] != "1") return true;
  const std::string mode = "“SQL Server 和 Windows 身份验证模式”";
  if (!ask(gs_.gs_appname,
           "服务器当前只允许 Windows 身份验证，本系统的登录名“" + gs_.gs_logid +
               "”将无法登录。\n\n是否将服务器的身份验证方式改为" + mode +
               "？\n\n注意：更改后需要重新启动 SQL Server 服务，"
               "正在使用该服务器的程序会短暂断开。",
           kNo))
    return fail(-7, kRelogonFailed, gs_.gs_appname,
                "服务器只允许 Windows 身份验证，本系统的登录名“" + gs_.gs_logid +
                    "”不能登录。服务器上没有作任何更改。\n请在 SQL Server Management Studio "
                    "的服务器属性“安全性”页中选择" +
                    mode + "，重新启动 SQL Server 服务后再次安装。");
  ls_sql_ = kMixedModeOn;
  execute();
  if (sqlca_.sqlcode != 0)
    return fail(-7, kRelogonFailed, gs_.gs_appname,
                "不能更改服务器的身份验证方式：\n" + sqlca_.sqlerrtext);

  const auto local = local_server();
  const std::string service = local ? local->service : "MSSQLSERVER 或 MSSQL$实例名";
  const std::string restart_yourself = "已将服务器的身份验证方式改为" + mode +
                                       "，重新启动 SQL Server 服务后生效。\n请在"
                                       "“SQL Server 配置管理器”（或“服务”）中重新启动服务 " +
                                       service + "，然后再次安装。服务器上没有作其他更改。";
  if (!local || !ctx_.platform.services) {
    db([&] { sqlca_.disconnect(); });
    return fail(-7, kRelogonFailed, gs_.gs_appname, restart_yourself);
  }
  std::string error;
  if (!restart_service(local->service, error)) {
    db([&] { sqlca_.disconnect(); });
    return fail(-7, kRelogonFailed, gs_.gs_appname,
                restart_yourself + "\n\n重新启动服务失败：" + error);
  }
  if (!logon_after_start(sqlca_.servername))
    return fail(-1, kConnectFailed, gs_.gs_appname, sqlca_.sqlerrtext + logon_hint(""),
                Field::password);
  ui_.set_status("数据库连接成功!");
  ls_sql_ = kWindowsOnly;
  if (!rows(answer) || answer.rows[0].empty() || answer.rows[0][0] != "1") return true;
  return fail(-7, kRelogonFailed, gs_.gs_appname,
              "重新启动服务后，服务器仍只允许 Windows 身份验证。" + restart_yourself);
}

// Stops the service with the services that depend on it, starts it again,
// and then those that ran before.
bool InstallRun::restart_service(const std::string& service, std::string& error) {
  db([&] { sqlca_.disconnect(); });
  Services& services = *ctx_.platform.services;
  ui_.set_status("正在重新启动 SQL Server 服务 " + service + " ...");
  std::vector<std::string> dependants;
  bool stopped = false;
  db([&] {
    stopped = services.stop(service, dependants, error) &&
              services.wait(service, ServiceState::Stopped, kServiceWait);
  });
  if (!stopped) {
    if (error.empty()) error = "服务没有在规定的时间内停止。";
    return false;
  }
  if (!start_service(service, error)) return false;
  for (const std::string& d : dependants) {
    std::string ignored;
    db([&] { services.start(d, ignored); });
  }
  return true;
}

}  // namespace dbsetup
