#pragma once

// One run of the install procedure, shared by both editions. Its stages live
// in three files: install.cpp (the order of the stages, logons, the old
// database and the install login), install_checks.cpp (everything checked
// before anything changes) and install_database.cpp (the copy of the old
// database, the new database, its data and the server option).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/context.h"
#include "install/backup_check.h"
#include "install/edition.h"
#include "install/install.h"
#include "install/statements.h"

namespace dbsetup {

class InstallRun {
 public:
  InstallRun(SetupContext& ctx, const Edition& edition)
      : ctx_(ctx), ed_(edition), ui_(ctx.ui), sqlca_(ctx.sqlca), gs_(ctx.gs) {}

  InstallOutcome run();

 private:
  int stages();
  // A server address on this machine and what the registry says of its
  // instance.
  struct LocalServer {
    std::string host;      // as typed: "127.0.0.1", "(local)", ...
    std::string instance;  // empty for the default instance
    std::string service;   // MSSQLSERVER or MSSQL$<instance>
    bool port_given = false;
    bool tcp_disabled = false;  // TCP/IP switched off for the instance
    std::string port;           // the instance's TCP port as recorded; empty: unknown
  };

  // A file of some database on the server, as master.dbo.sysaltfiles lists it.
  struct ServerFile {
    std::string database;
    std::string path;
    std::uint64_t bytes = 0;
    bool log = false;
  };

  // Every call on the connection runs through the window, which keeps
  // painting while the server works.
  template <typename Work>
  void db(Work&& work) {
    ui_.run_blocking([&] { work(); });
  }
  void execute();
  // Runs ls_sql_ as a query; its rows go into `table`. False when it failed
  // or brought no row.
  bool rows(DbTable& table);
  // A Yes/No question; true for Yes.
  bool ask(const std::string& title, const std::string& text, int default_button);

  // A failed stage: the box with the details first, then the short text and
  // code for the failure exit. `field`, when given, is the field the
  // failure concerns; it gets the focus.
  bool fail(int code, const std::string& short_text, const std::string& title,
            const std::string& details, std::optional<Field> field = std::nullopt);
  bool fail(int code, const std::string& short_text);
  // A cancellation: no box.
  bool cancel(int code, const std::string& status);
  int failure_exit();

  // install_checks.cpp
  bool check_values();
  bool confirm_name();
  bool check_backup();
  bool check_sysadmin();
  void derive_paths();
  bool check_folder();
  bool read_server_files();
  bool check_target_files();
  bool check_space();
  bool confirm_leftover_files();
  bool confirm_without_copy();

  // install_logon.cpp
  bool logon_master();
  std::optional<LocalServer> local_server() const;
  void connect_to(const std::string& server);
  bool help_local_server(const LocalServer& local, std::string& findings);
  bool start_service(const std::string& service, std::string& error);
  bool restart_service(const std::string& service, std::string& error);
  bool logon_after_start(const std::string& server);
  std::string logon_hint(const std::string& findings) const;
  bool check_authentication_mode();

  // install.cpp
  bool database_exists();
  bool confirm_overwrite();
  bool drop_database();
  void remove_leftover_files();
  bool provision_login();
  void drop_old_login();
  bool create_login();
  bool logon_install_login();

  // install_database.cpp
  bool verify_backup();
  bool copy_old_database();
  bool create_database();
  bool set_default_database();
  bool restore();
  bool configure();
  int finish();

  std::string install_password() const;
  PageFields& page() { return ctx_.form.page(ed_.page); }
  // Every path the install gives a file of the new database.
  std::vector<std::string> target_paths() const;
  bool overwritten(const ServerFile& file) const;

  SetupContext& ctx_;
  const Edition& ed_;
  WindowUi& ui_;
  Transaction& sqlca_;
  Settings& gs_;

  std::string ls_dbname_;
  std::string ls_datafile_;
  std::string ls_logfile_;
  std::string ls_tavoxdb_;
  std::string ls_sql_;
  std::string ls_err_;
  int ll_rtn_ = 0;

  std::string folder_;                 // the data folder, ending with a backslash
  BackupVerdict backup_;               // the backup's files
  std::vector<sql::Move> more_moves_;  // its further files and their paths
  bool case_sensitive_ = false;        // the server compares names with letter case
  std::vector<ServerFile> server_files_;
  bool server_files_known_ = false;
  // Set by the free-space check: the copy of the old database would not fit
  // although the install would.
  std::string copy_does_not_fit_;
  bool make_copy_ = true;
  std::string copy_;  // the copy written, empty when none
  bool dropped_ = false;
  InstallStage stage_ = InstallStage::values;
  std::string reason_;       // the last failure box's details
  std::string server_text_;  // and the server's text behind it
  bool delete_leftovers_ = false;
};

}  // namespace dbsetup
