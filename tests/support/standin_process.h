#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/temp_files.h"

namespace dbsetup::testing {

// Runs the SQL Server stand-in (tools/sqlserver_standin) as a child process
// for the length of a test. Each instance gets a fresh temporary folder:
//   dir()/disk/       the server's --files-root
//   dir()/log.jsonl   one JSON line per request (--log)
//   dir()/state.json  the server state after each change (--state)
// The server listens on 127.0.0.1 on a free port and is logged on to with
// `sa` / `SECRET` (role sysadmin) unless extra_args hold a --login of their own.
// extra_args choose the kind of server: {"--profile", "2022"} (or "2022-linux";
// SQL Server 2000 without one), "--domain-password-policy",
// "--windows-auth-only", "--unreadable-backups", {"--drive", "D:500:D"} (drive
// D: with 500 MB free, its root at files_root() + "/D") (see sqlserver_standin --help).
// {"--windows-login", "SHOP\\admin:PW:sysadmin"} adds a Windows login that
// FreeTDS logs on with through NTLM (UID=SHOP\admin;PWD=PW).
class StandinServer {
 public:
  explicit StandinServer(std::vector<std::string> extra_args = {});
  ~StandinServer();  // stops the server and removes dir()

  StandinServer(const StandinServer&) = delete;
  StandinServer& operator=(const StandinServer&) = delete;

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1," + std::to_string(port_); }
  std::string dir() const { return dir_.path(); }
  std::string files_root() const { return dir() + "/disk"; }

  // The request log, one object per line, in order.
  std::vector<nlohmann::json> log() const;
  // Statement texts from the log (SQL batches and the statement of each
  // sp_executesql), in order.
  std::vector<std::string> statements() const;
  // How many of them begin with `prefix`.
  std::size_t count(const std::string& prefix) const;
  // The logon records of the log, in order; "encrypted" tells whether the
  // login packet came in TLS, "ok" whether the logon succeeded.
  std::vector<nlohmann::json> logons() const;
  // The last state the server wrote (empty object before the first write).
  nlohmann::json state() const;

  // Writes a backup file under files_root() that records the two logical
  // file names and the version of the server that wrote it ("8.0" for SQL
  // Server 2000, "15.0" for 2019; empty: 8.0); returns its local path.
  std::string make_backup(const std::string& name, const std::string& dataname,
                          const std::string& logname, const std::string& version = {});
  // The same backup with what sqlserver_standin --make-backup adds (--help).
  struct BackupOptions {
    std::string version = {};              // as above
    std::string type = "full";             // full, differential or log: BackupType 1, 5, 2
    std::vector<std::string> files = {};   // further files, "T:LOGICAL[:PATH]", T: D, L, F, S
    std::optional<int> truncated_at = {};  // the file ends after that percent (0-99) of its data
  };
  std::string make_backup(const std::string& name, const std::string& dataname,
                          const std::string& logname, const BackupOptions& options);

  // The server as a service that stops and starts again. stop() ends the
  // process (the port then refuses connections); start() runs it again on
  // the same port from the state it saved (--load-state): its logins and
  // Windows accounts, databases, configuration, and the authentication mode
  // the registry's LoginMode holds. restart() is both. The log goes on in
  // the same file, its connection numbers from 1 again.
  void stop();
  void start();
  void restart();
  bool running() const { return pid_ > 0; }

 private:
  void launch(std::vector<std::string> args);

  TempDir dir_;
  std::vector<std::string> args_;  // as first started
  int pid_ = -1;
  int port_ = 0;
};

// A machine with two instances as SQL Server's clients find them: the default
// instance and a named one, the default answering the SQL Server Browser on
// UDP 127.0.0.1:1434 for both. Encryption flags and the like go to both
// through extra_args. There is one such port per machine: tests that use this
// class hold the ctest RESOURCE_LOCK "sqlserver_browser".
class StandinInstances {
 public:
  explicit StandinInstances(std::string name = "SHOP", std::vector<std::string> extra_args = {});
  StandinServer& default_instance() { return *default_; }
  StandinServer& named() { return *named_; }
  std::string named_address() const { return "127.0.0.1\\" + name_; }  // 127.0.0.1\SHOP

 private:
  std::string name_;
  std::unique_ptr<StandinServer> named_, default_;
};

}  // namespace dbsetup::testing
