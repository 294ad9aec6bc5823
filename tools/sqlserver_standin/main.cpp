// sqlserver_standin: a small TDS server that answers like Microsoft SQL Server
// for the statements the installer sends. See --help.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "connection.h"
#include "executor.h"
#include "network_options.h"
#include "server_state.h"
#include "sql.h"

using namespace standin;

namespace {

const char* kHelp = R"(usage: sqlserver_standin [options]

A stand-in for Microsoft SQL Server that speaks TDS 7.x on 127.0.0.1.

Server:
  --port N                 listen on port N (0: pick a free one); the port is
                           printed first on stdout, as a line with the number
  --idle-timeout SECONDS   exit after that long without any open connection (600)
  --tds-version V          highest TDS version to accept: 7.0 7.1 7.2 7.3 7.4 (7.4)
  --server-name NAME       the server's name in messages (STANDIN)
Network:
  --force-encryption       answer ENCRYPT_REQ: the whole session in TLS
  --no-encryption          offer no TLS (ENCRYPT_NOT_SUP); by default profile
                           2000 offers none and the later ones offer TLS with a
                           self-signed certificate made at start
  --instance-name NAME     the named instance this server is (default instance)
  --browser                answer the SQL Server Browser on UDP 127.0.0.1:1434
                           for this instance
  --browser-instance NAME=PORT   the Browser also lists this instance (repeatable)
State:
  --login NAME:PASSWORD[:ROLE[,ROLE...]]   a login (repeatable), roles such as
                           sysadmin, securityadmin, serveradmin, dbcreator
  --database NAME[:OWNER]  a database with files in the default data folder (repeatable)
  --in-use NAME            the database is in use (DROP fails with 3702)
  --default-data PATH      the default data folder (a Windows path)
  --files-root DIR         data files are created only under this local folder
  --drive L:FREE_MB[:DIR]  the server has drive L: with FREE_MB megabytes free
                           (repeatable); its root is the local folder DIR (relative
                           to --files-root), without DIR its paths are only
                           recorded. C: is there unless given (102400 MB free, no
                           folder); paths on other letters do not exist
  --case-sensitive         names compare with letter case
  --collation NAME         SERVERPROPERTY('Collation') (Chinese_PRC_CI_AS, with
                           --case-sensitive Chinese_PRC_CS_AS); _CS_ or _BIN
                           makes names compare with letter case
  --model-size-mb N        CREATE DATABASE needs a primary file of at least N MB
  --make-backup PATH DATANAME LOGNAME   write a backup file (of the database
                           named after the file) and exit unless --port is given
  --windows-login DOMAIN\USER:PASSWORD[:ROLE[,ROLE...]]   a Windows login and its
                           account in the domain the server trusts (repeatable);
                           it logs on with NTLM (NTLMv2 only)
  --windows-account DOMAIN\USER:PASSWORD   an account of that domain without a
                           login of its own (repeatable)
  --disabled-login NAME    the login is disabled (repeatable)
  --load-state FILE        start from the state that --state wrote: logins, Windows
                           accounts, databases, configuration and registry values,
                           and the authentication mode its LoginMode value holds;
                           --login, --windows-login, --windows-account, --database,
                           --in-use, --disabled-login and --windows-auth-only are
                           then ignored
Version:
  --profile P              2000 (the default), 2022 or 2022-linux: the version
                           clients see and the behaviours of that version
  --backup-version V       the server version --make-backup records (8.0)
  --backup-type T          full (the default), differential or log
  --backup-file T:LOGICAL[:PATH]   a further file in the backup: T is D (data),
                           L (log), F (full-text catalog) or S (FILESTREAM);
                           PATH defaults to a folder on drive E: (repeatable)
  --backup-truncated P     the backup file ends after P percent of its data
  --domain-password-policy passwords follow a Windows domain's policy
  --windows-auth-only      Windows Authentication mode: SQL logins cannot log on
  --unreadable-backups     the service account cannot read any backup file
Test controls:
  --fail REGEX:NUMBER:TEXT the first statement matching REGEX (any letter case)
                           fails with error NUMBER, class 16, TEXT (repeatable)
  --drop-at REGEX          drop the connection when a matching statement arrives
  --fail-nth N:REGEX:NUMBER:TEXT   as --fail, but the first N-1 matches pass
  --drop-at-nth N:REGEX    as --drop-at, but the first N-1 matches pass
  --fail-login REGEX:NUMBER:TEXT   the first logon whose login name matches
                           fails with error NUMBER, class 14, TEXT (repeatable)
  --drop-login REGEX       drop the connection when a matching login logs on
  --silent-logon           read PRELOGIN and LOGIN7 and never answer
  --stall-restore-at P     report a restore's progress up to P percent, then
                           hang: answer nothing, not even a cancel, until the
                           client closes the connection
  --restore-seconds N      spread a restore's (and VERIFYONLY's) progress over N seconds
  --backup-seconds N       spread BACKUP DATABASE's progress over N seconds
  --restore-fail-at P      fail a restore after P percent (error 3203)
  --log FILE               append one JSON line per request
  --state FILE             rewrite the server state as JSON after each change
  --help
Windows paths map to local ones: backslashes become slashes and repeated
separators collapse; a drive given a folder maps its root there.
)";

[[noreturn]] void usage_error(const std::string& msg) {
  std::cerr << "sqlserver_standin: " << msg << "\n(see --help)\n";
  std::exit(2);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  std::istringstream in(s);
  while (std::getline(in, cur, sep)) out.push_back(cur);
  if (!s.empty() && s.back() == sep) out.emplace_back();
  return out;
}

// L:FREE_MB[:DIR], DIR taken relative to the files root.
Drive parse_drive(const std::string& option, const std::string& root) {
  auto first = option.find(':');
  if (first != 1 || !std::isalpha(static_cast<unsigned char>(option[0])))
    usage_error("--drive wants L:FREE_MB[:DIR]");
  Drive d;
  d.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(option[0])));
  auto second = option.find(':', 2);
  d.free_bytes = std::stoll(option.substr(2, second == std::string::npos ? second : second - 2))
                 << 20;
  if (d.free_bytes < 0) usage_error("--drive wants a free space of 0 MB or more");
  if (second != std::string::npos) {
    std::filesystem::path dir = option.substr(second + 1);
    if (dir.is_relative()) dir = std::filesystem::path(root.empty() ? "." : root) / dir;
    d.folder = std::filesystem::absolute(dir).lexically_normal().string();
    while (d.folder.size() > 1 && d.folder.back() == '/') d.folder.pop_back();
  }
  return d;
}

// T:LOGICAL[:PATH] for --backup-file.
BackupFile parse_backup_file(const std::string& option) {
  if (option.size() < 3 || option[1] != ':' ||
      std::string("DLFS").find(option[0]) == std::string::npos)
    usage_error("--backup-file wants T:LOGICAL[:PATH] with T one of D, L, F, S");
  BackupFile f;
  f.type = option[0];
  auto colon = option.find(':', 2);
  f.logical = option.substr(2, colon == std::string::npos ? colon : colon - 2);
  if (f.logical.empty()) usage_error("--backup-file needs a logical name");
  static const std::map<char, std::string> ending = {
      {'D', ".ndf"}, {'L', ".ldf"}, {'F', ""}, {'S', ""}};
  f.physical = colon == std::string::npos ? std::string(f.type == 'F' ? "E:\\OldServer\\FTData\\"
                                                                      : "E:\\OldServer\\Data\\") +
                                                f.logical + ending.at(f.type)
                                          : option.substr(colon + 1);
  f.pages = 128;
  return f;
}

// NAME:PASSWORD[:ROLE,...]: the password may hold colons when roles follow.
struct LoginOption {
  std::string name, password;
  std::set<std::string> roles;
};
LoginOption parse_login_option(const std::string& option, const std::string& what) {
  auto parts = split(option, ':');
  if (parts.size() < 2) usage_error(what + " wants NAME:PASSWORD[:ROLES]");
  LoginOption l{parts[0], parts[1], {}};
  if (parts.size() >= 3) {
    for (size_t k = 2; k + 1 < parts.size(); ++k) l.password += ":" + parts[k];
    for (const auto& r : split(parts.back(), ','))
      if (!r.empty()) l.roles.insert(sql_lower(r));
  }
  return l;
}

uint32_t parse_version(const std::string& v) {
  if (v == "7.0") return kTds70;
  if (v == "7.1") return kTds71;
  if (v == "7.2") return kTds72;
  if (v == "7.3") return kTds73;
  if (v == "7.4") return kTds74;
  usage_error("unknown TDS version " + v);
}

std::atomic<int> g_open{0};
std::atomic<int64_t> g_last_change{0};

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  StateOptions so;
  std::vector<std::string> logins, databases, in_use, fails, drops;
  std::vector<std::string> fails_nth, drops_nth, login_fails, login_drops;
  std::vector<std::string> windows_logins, windows_accounts, disabled_logins;
  std::string load_state;
  std::string log_file, backup_path, backup_data, backup_log, server_name = "STANDIN";
  std::string backup_version = "8.0", backup_type = "full";
  std::vector<std::string> drives, backup_files;
  std::optional<int> backup_truncated;
  double backup_seconds = 0;
  int port = -1;
  double idle = 600, restore_seconds = 0;
  std::optional<int> restore_fail_at, stall_restore_at;
  bool silent_logon = false;
  uint32_t tds_cap = kTds74;
  NetworkOptions network_options;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) usage_error(a + " needs a value");
      return args[++i];
    };
    try {
      if (a == "--help" || a == "-h") {
        std::cout << kHelp;
        return 0;
      } else if (network_options.take(args, i)) {
      } else if (a == "--port")
        port = std::stoi(value());
      else if (a == "--idle-timeout")
        idle = std::stod(value());
      else if (a == "--tds-version")
        tds_cap = parse_version(value());
      else if (a == "--server-name")
        server_name = value();
      else if (a == "--login")
        logins.push_back(value());
      else if (a == "--database")
        databases.push_back(value());
      else if (a == "--in-use")
        in_use.push_back(value());
      else if (a == "--default-data")
        so.default_data_dir = value();
      else if (a == "--files-root")
        so.files_root = std::filesystem::absolute(value()).lexically_normal().string();
      else if (a == "--case-sensitive")
        so.case_sensitive = true;
      else if (a == "--drive")
        drives.push_back(value());
      else if (a == "--collation")
        so.collation = value();
      else if (a == "--model-size-mb")
        so.model_size_mb = std::stoi(value());
      else if (a == "--profile") {
        auto p = profile_named(value());
        if (!p) usage_error("unknown profile " + args[i]);
        so.profile = *p;
      } else if (a == "--backup-version")
        backup_version = value();
      else if (a == "--backup-type")
        backup_type = value();
      else if (a == "--backup-file")
        backup_files.push_back(value());
      else if (a == "--backup-truncated")
        backup_truncated = std::stoi(value());
      else if (a == "--backup-seconds")
        backup_seconds = std::stod(value());
      else if (a == "--domain-password-policy")
        so.domain_password_policy = true;
      else if (a == "--windows-auth-only")
        so.windows_auth_only = true;
      else if (a == "--unreadable-backups")
        so.backups_unreadable = true;
      else if (a == "--make-backup") {
        backup_path = value();
        backup_data = value();
        backup_log = value();
      } else if (a == "--fail")
        fails.push_back(value());
      else if (a == "--drop-at")
        drops.push_back(value());
      else if (a == "--fail-nth")
        fails_nth.push_back(value());
      else if (a == "--drop-at-nth")
        drops_nth.push_back(value());
      else if (a == "--fail-login")
        login_fails.push_back(value());
      else if (a == "--drop-login")
        login_drops.push_back(value());
      else if (a == "--silent-logon")
        silent_logon = true;
      else if (a == "--stall-restore-at")
        stall_restore_at = std::stoi(value());
      else if (a == "--restore-seconds")
        restore_seconds = std::stod(value());
      else if (a == "--restore-fail-at")
        restore_fail_at = std::stoi(value());
      else if (a == "--log")
        log_file = value();
      else if (a == "--state")
        so.state_file = value();
      else if (a == "--windows-login")
        windows_logins.push_back(value());
      else if (a == "--windows-account")
        windows_accounts.push_back(value());
      else if (a == "--disabled-login")
        disabled_logins.push_back(value());
      else if (a == "--load-state")
        load_state = value();
      else
        usage_error("unknown option " + a);
    } catch (const std::invalid_argument&) {
      usage_error("bad value for " + a);
    } catch (const std::out_of_range&) {
      usage_error("bad value for " + a);
    }
  }

  for (const auto& d : drives) {
    try {
      so.drives.push_back(parse_drive(d, so.files_root));
    } catch (const std::exception&) {
      usage_error("bad value for --drive: " + d);
    }
  }
  {
    std::string upper = ascii_upper(so.collation);
    if (upper.find("_CS") != std::string::npos || upper.find("_BIN") != std::string::npos)
      so.case_sensitive = true;
  }
  if (!backup_path.empty()) {
    std::string local = ServerState(so).local_path(backup_path);
    std::string name = std::filesystem::path(local).stem().string();
    Backup backup = make_backup(name, backup_data, backup_log);
    if (!set_backup_version(backup, backup_version))
      usage_error("bad --backup-version " + backup_version);
    static const std::map<std::string, int> types = {{"full", 1}, {"differential", 5}, {"log", 2}};
    if (!types.count(backup_type)) usage_error("--backup-type wants full, differential or log");
    backup.type = types.at(backup_type);
    for (const auto& f : backup_files) backup.files.push_back(parse_backup_file(f));
    int percent = backup_truncated.value_or(100);
    if (percent < 0 || percent > 100 || (backup_truncated && percent == 100))
      usage_error("--backup-truncated wants 0 to 99");
    if (!write_backup_file(local, backup, percent)) {
      std::cerr << "sqlserver_standin: cannot write " << backup_path << "\n";
      return 1;
    }
    if (port < 0) return 0;
  }
  if (port < 0) usage_error("--port is required");

  ServerState state(so);
  if (!load_state.empty()) {
    // A new start of a server that ran before: the state file replaces the
    // options that describe a new one.
    logins.clear();
    databases.clear();
    in_use.clear();
    windows_logins.clear();
    windows_accounts.clear();
    disabled_logins.clear();
    try {
      std::ifstream in(load_state);
      if (!in) usage_error("cannot read --load-state " + load_state);
      state.load(nlohmann::json::parse(in));
    } catch (const std::exception& e) {
      usage_error("bad --load-state " + load_state + ": " + e.what());
    }
  }
  for (const auto& option : logins) {
    LoginOption l = parse_login_option(option, "--login");
    state.add_login(l.name, l.password, l.roles);
  }
  for (const auto& option : windows_logins) {
    LoginOption l = parse_login_option(option, "--windows-login");
    if (l.name.find('\\') == std::string::npos)
      usage_error("--windows-login wants DOMAIN\\USER:PASSWORD[:ROLES]");
    state.add_windows_account(l.name, l.password);
    state.add_login(l.name, "", l.roles).windows = true;
  }
  for (const auto& option : windows_accounts) {
    LoginOption l = parse_login_option(option, "--windows-account");
    if (l.name.find('\\') == std::string::npos || !l.roles.empty())
      usage_error("--windows-account wants DOMAIN\\USER:PASSWORD");
    state.add_windows_account(l.name, l.password);
  }
  for (const auto& name : disabled_logins) {
    Login* l = state.find_login(name);
    if (!l) usage_error("--disabled-login " + name + ": no such login");
    l->disabled = true;
  }
  for (const auto& option : databases) {
    auto colon = option.find(':');
    Database db;
    db.name = option.substr(0, colon);
    db.owner = colon == std::string::npos ? "sa" : option.substr(colon + 1);
    db.files = state.default_files(db.name);
    for (const auto& f : db.files) state.create_file(f.physical);
    state.add_database(db);
  }
  for (const auto& n : in_use) state.marked_in_use.insert(n);
  Controls controls;
  controls.restore_seconds = restore_seconds;
  controls.backup_seconds = backup_seconds;
  controls.restore_fail_at = restore_fail_at;
  controls.stall_restore_at = stall_restore_at;
  controls.silent_logon = silent_logon;
  try {
    for (const auto& f : fails) controls.add_failure(f);
    for (const auto& d : drops) controls.add_drop(d);
    for (const auto& f : fails_nth) controls.add_failure_nth(f);
    for (const auto& d : drops_nth) controls.add_drop_nth(d);
    for (const auto& f : login_fails) controls.add_login_failure(f);
    for (const auto& d : login_drops) controls.add_login_drop(d);
  } catch (const std::exception& e) {
    usage_error(std::string("bad --fail, --drop-at or their variants: ") + e.what());
  }
  state.save();

  int lfd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (::bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(lfd, 64) != 0) {
    std::perror("sqlserver_standin: listen");
    return 1;
  }
  socklen_t len = sizeof addr;
  ::getsockname(lfd, reinterpret_cast<sockaddr*>(&addr), &len);
  // SQL Server 2000 has no certificate unless one is installed, so it offers
  // no encryption; 2005 and later make a self-signed one at start.
  const Profile& profile = state.settings().profile;
  if (!network_options.encryption_given && profile.major < 9)
    network_options.encryption = ServerEncryption::NotSupported;
  Network network;
  try {
    network = start_network(network_options, ntohs(addr.sin_port), server_name,
                            profile.product_version());
  } catch (const std::exception& e) {
    std::cerr << "sqlserver_standin: " << e.what() << "\n";
    return 1;
  }
  std::cout << ntohs(addr.sin_port) << std::endl;

  Executor executor(state, controls, server_name);
  RequestLog log(log_file);
  g_last_change = now_ms();
  int next_id = 1;
  for (;;) {
    pollfd p{lfd, POLLIN, 0};
    int r = ::poll(&p, 1, 200);
    if (r > 0) {
      int fd = ::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ::setsockopt(fd, IPPROTO_TCP, 1 /* TCP_NODELAY */, &one, sizeof one);
      ++g_open;
      g_last_change = now_ms();
      int id = next_id++;
      std::thread([fd, id, &executor, &log, tds_cap, &network_options, &network] {
        {
          Connection c(fd, id, executor, log, tds_cap);
          c.set_encryption(network_options.encryption, network.credentials.get());
          c.run();
        }
        g_last_change = now_ms();
        --g_open;
      }).detach();
    }
    if (g_open == 0 && now_ms() - g_last_change > static_cast<int64_t>(idle * 1000)) break;
  }
  ::close(lfd);
  return 0;
}
