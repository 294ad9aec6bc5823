#include "install/install.h"

#include <string>
#include <vector>

#include "install/backup_check.h"
#include "install/edition.h"
#include "install/progress.h"
#include "install/statements.h"

namespace dbsetup {

namespace {

// Joins a failure line and the server's error text in a message box.
constexpr const char* kErrorInfo = "\r\n\n错误信息:";
constexpr const char* kWarningTitle = "系统严重警告";
constexpr const char* kFixedPassword = "zq";
constexpr const char* kLoadFailed = "装载数据失败!";
// The server refuses a database smaller than its model database.
constexpr int kModelTooLarge = 1803;

// sp_addlogin refused the password under the server's password policy:
// 15114 to 15119 from Windows' policy, 33062 to 33064 from the one SQL Server
// on Linux applies itself.
bool password_policy_error(int number) {
  return (number >= 15114 && number <= 15119) || (number >= 33062 && number <= 33064);
}

// The database name becomes part of two file names in the data folder, so it
// must be one file name: not empty or blank, not "." or "..", and without a
// character that Windows refuses in a file name.
bool usable_as_file_name(const std::string& name) {
  if (name.find_first_not_of(" \t") == std::string::npos || name == "." || name == "..")
    return false;
  for (unsigned char c : name)
    if (c < 0x20 ||
        std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  return true;
}

// The hourglass shows from the first stage until the procedure returns.
class BusyPointer {
 public:
  explicit BusyPointer(WindowUi& ui) : ui_(ui) { ui_.set_busy(true); }
  ~BusyPointer() { ui_.set_busy(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;

 private:
  WindowUi& ui_;
};

// Shows the restore's progress messages in the window's progress bar while it
// lives, and hides the bar again however the restore ends.
class RestoreProgress {
 public:
  RestoreProgress(Transaction& sqlca, WindowUi& ui) : sqlca_(sqlca), ui_(ui) {
    ui_.set_progress(0);
    // Runs on the thread that carries the statement.
    sqlca_.set_message_handler([&ui = ui_](const DbMessage& message) {
      if (auto percent = restore_percent(message.text)) ui.set_progress(*percent);
    });
  }
  ~RestoreProgress() {
    sqlca_.set_message_handler(nullptr);
    ui_.set_progress(-1);
  }
  RestoreProgress(const RestoreProgress&) = delete;
  RestoreProgress& operator=(const RestoreProgress&) = delete;

 private:
  Transaction& sqlca_;
  WindowUi& ui_;
};

// One run of the install procedure. Each stage returns false when the run
// must leave through the common failure exit, with ls_err_ and ll_rtn_ set.
class InstallRun {
 public:
  InstallRun(SetupContext& ctx, const Edition& edition)
      : ctx_(ctx), ed_(edition), ui_(ctx.ui), sqlca_(ctx.sqlca), gs_(ctx.gs) {}

  int run() {
    BusyPointer busy(ui_);
    ls_dbname_ = ui_.text(ed_.field_dbname);
    if (!check_database_name()) return failure_exit();
    if (ed_.confirm_name && !confirm_name()) return 0;

    if (!logon_master()) return failure_exit();
    if (!check_backup()) return failure_exit();
    derive_paths();
    if (database_exists()) {
      if (!confirm_overwrite()) return failure_exit();
      if (!drop_database()) return failure_exit();
    }
    if (ed_.check_leftover_files && !remove_leftover_files()) return failure_exit();

    drop_old_login();
    if (!create_login()) return failure_exit();
    if (!logon_install_login()) return failure_exit();

    if (!create_database()) return failure_exit();
    if (!set_default_database()) return failure_exit();
    if (!restore()) return failure_exit();

    if (!configure()) return failure_exit();
    return finish();
  }

 private:
  // Every call on the connection runs through the window, which keeps
  // painting while the server works.
  template <typename Work>
  void db(Work&& work) {
    ui_.run_blocking([&] { work(); });
  }
  // Executes the statement in ls_sql_.
  void execute() {
    db([&] { sqlca_.execute_immediate(ls_sql_); });
  }

  // A failed stage: the box with the server's text first, then the short text
  // and code for the failure exit.
  bool fail(int code, const std::string& short_text, const std::string& title,
            const std::string& details) {
    ui_.message_box(title, short_text + kErrorInfo + details);
    ls_err_ = short_text;
    ll_rtn_ = code;
    return false;
  }
  bool fail(int code, const std::string& short_text) {
    return fail(code, short_text, gs_.gs_appname, sqlca_.sqlerrtext);
  }

  int failure_exit() {
    ui_.set_status(ls_err_);
    db([&] { sqlca_.disconnect(); });
    return ll_rtn_;
  }

  bool check_database_name() {
    if (usable_as_file_name(ls_dbname_)) return true;
    return fail(-1, "数据库名称无效!", gs_.gs_appname,
                "数据库名称不能为空或空白，不能是“.”或“..”，"
                "也不能含有控制字符或 \\ / : * ? \" < > | 中的任何一个。");
  }

  bool confirm_name() {
    const std::string text = "是否确认本次安装的数据库名称为“" + ls_dbname_ + "”？\n\n" +
                             "系统提示：系统允许安装多个数据库，但需要和程序安装向导一致，"
                             "否则可能造成数据库连接错误！";
    return ui_.message_box(gs_.gs_appname, text, MsgIcon::Question, MsgButtons::YesNo, kYes) ==
           kYes;
  }

  bool logon_master() {
    ui_.set_status("准备连接数据库...");
    sqlca_.dbms = ed_.driver_name;
    sqlca_.servername = ui_.text(ed_.field_servername);
    sqlca_.database = "master";
    sqlca_.logpass = ui_.text(ed_.field_password);
    sqlca_.logid = ui_.text(ed_.field_userid);
    sqlca_.autocommit = true;
    sqlca_.dbparm = "";
    db([&] { sqlca_.connect(); });
    if (sqlca_.sqlcode != 0) {
      ui_.focus(ed_.field_password);
      const std::string short_text = "连接数据库失败!";
      if (ed_.logon_failure_box) return fail(-1, short_text);
      ls_err_ = short_text;
      ll_rtn_ = -1;
      return false;
    }
    ui_.set_status("数据库连接成功!");
    return true;
  }

  void derive_paths() {
    std::string folder = ui_.text(ed_.field_datapath);
    if (folder.empty() || folder.back() != '\\') {
      folder += '\\';
      ui_.set_text(ed_.field_datapath, folder);
    }
    ls_datafile_ = folder + ls_dbname_ + "_Data.MDF";
    ls_logfile_ = folder + ls_dbname_ + "_Log.LDF";
  }

  // Before anything changes on the server: the backup must be readable by
  // the server, restorable there, and hold the files the install will move.
  // The SQL Server 7.0 edition takes the logical file names from it.
  bool check_backup() {
    const std::string backup = ui_.text(ed_.field_backupfile);
    DbTable header;
    ls_sql_ = sql::header_list(backup);
    db([&] { sqlca_.select_rows(ls_sql_, header); });
    if (sqlca_.sqlcode != 0 && sqlca_.sqlcode != 100) return fail(-10, kLoadFailed);
    const std::string refusal = judge_header(header, parse_sql_version(sqlca_.server_version()));
    if (!refusal.empty()) return fail(-10, kLoadFailed, gs_.gs_appname, refusal);

    DbTable files;
    ls_sql_ = sql::file_list(backup);
    db([&] { sqlca_.select_rows(ls_sql_, files); });
    if (sqlca_.sqlcode != 0 && sqlca_.sqlcode != 100) return fail(-10, kLoadFailed);
    const bool from_backup = ed_.logical_names_from_backup;
    const BackupVerdict verdict = judge_files(files, from_backup ? nullptr : &gs_.gs_database_data,
                                              from_backup ? nullptr : &gs_.gs_database_log);
    if (!verdict.refusal.empty()) return fail(-10, kLoadFailed, gs_.gs_appname, verdict.refusal);
    if (from_backup) {
      gs_.gs_database_data = verdict.data;
      gs_.gs_database_log = verdict.log;
    }
    return true;
  }

  // The server folds the letter case of both sides by its own rules, which
  // are the rules by which it would find the names equal.
  bool database_exists() {
    ls_tavoxdb_.clear();
    ls_sql_ = sql::kExistenceQuery;
    db([&] { sqlca_.select_one(ls_sql_, ls_dbname_, ls_tavoxdb_); });
    return sqlca_.sqlcode == 0 && !ls_tavoxdb_.empty();
  }

  bool confirm_overwrite() {
    const std::string text = "数据库(" + ls_dbname_ + ")，已安装到此机器上，\n" +
                             "请确认是否继续安装，覆盖其数据？\n\n"
                             "注意：此举可能造成系统原来数据物理丢失，不能恢复。"
                             "请\n在确认之前和系统管理员联系！";
    if (ui_.message_box(kWarningTitle, text, MsgIcon::Exclamation, MsgButtons::YesNo, kNo) == kYes)
      return true;
    ls_err_ = "取消数据库安装!";
    ll_rtn_ = -2;
    return false;
  }

  bool drop_database() {
    ui_.set_status("检测旧数据...");
    ls_sql_ = sql::drop_database(ls_dbname_);
    execute();
    const bool tolerated =
        ed_.drop_tolerated_error != 0 && sqlca_.sqldbcode == ed_.drop_tolerated_error;
    if (sqlca_.sqlcode == -1 && !tolerated) {
      const std::string short_text = "检测旧数据失败!";
      return fail(-3, short_text, short_text, sqlca_.sqlerrtext);
    }
    ui_.set_status("检测旧数据完毕!");
    return true;
  }

  // The test and the deletions act on this machine's file system; they meet
  // the server's files only when the server runs here.
  bool remove_leftover_files() {
    FileSystem* files = ctx_.platform.files;
    if (!files || !files->exists(ls_datafile_)) return true;
    const std::string text = "系统检测到在指定的目录下已有本数据库文件存在！\r\n\n" + ls_datafile_ +
                             "\n\n警告：如果有必要，请备份目录\r\n" + ui_.text(ed_.field_datapath) +
                             "\r\n" +
                             "请确认是否继续安装，覆盖已存在的文件？\n\n"
                             "注意：此举可能造成系统原来数据物理丢失，不能恢复。"
                             "请在确认之前和系统管理员联系！";
    if (ui_.message_box(kWarningTitle, text, MsgIcon::Exclamation, MsgButtons::YesNo, kNo) !=
        kYes) {
      ls_err_.clear();
      ll_rtn_ = -2;
      return false;
    }
    files->remove(ls_datafile_);
    files->remove(ls_logfile_);
    return true;
  }

  std::string install_password() const {
    return ed_.password_from_settings ? gs_.gs_password : kFixedPassword;
  }

  // Whether the old login existed, was dropped or was refused, the run goes on.
  void drop_old_login() {
    ui_.set_status("检测旧用户...");
    ls_sql_ = sql::drop_login(gs_.gs_logid);
    execute();
    ui_.set_status("检测旧用户完毕!");
  }

  // Only the last role grant decides: a refused creation goes unnoticed when
  // the login is still there to be granted its roles. A password that the
  // server's policy refuses is set once more with the policy off, since the
  // application logs on with exactly that password.
  bool create_login() {
    ui_.set_status("创建新用户...");
    ls_sql_ = sql::add_login(gs_.gs_logid, install_password());
    execute();
    std::string creation_error;
    if (sqlca_.sqlcode != 0) {
      creation_error = sqlca_.sqlerrtext;
      if (password_policy_error(sqlca_.sqldbcode)) {
        ls_sql_ = sql::create_login_without_policy(gs_.gs_logid, install_password());
        execute();
        creation_error = sqlca_.sqlcode == 0 ? "" : creation_error + "\n" + sqlca_.sqlerrtext;
      }
    }
    for (const char* role : {"sysadmin", "securityadmin", "serveradmin"}) {
      ls_sql_ = sql::add_server_role(gs_.gs_logid, role);
      execute();
    }
    // The failed creation explains the failed grant: its text comes first.
    if (sqlca_.sqlcode != 0)
      return fail(
          -6, "创建新用户失败!", gs_.gs_appname,
          creation_error.empty() ? sqlca_.sqlerrtext : creation_error + "\n" + sqlca_.sqlerrtext);
    ui_.set_status("创建新用户完毕!");
    return true;
  }

  bool logon_install_login() {
    db([&] { sqlca_.disconnect(); });
    ui_.set_status("准备重新登录...");
    sqlca_.database = "master";
    sqlca_.logid = gs_.gs_logid;
    sqlca_.logpass = install_password();
    db([&] { sqlca_.connect(); });
    if (sqlca_.sqlcode != 0) return fail(-7, "重新登录数据库失败!");
    ui_.set_status("重新登录成功!");
    return true;
  }

  bool create_database() {
    ui_.set_status("开始创建数据库...");
    auto statement = [&](bool with_size) {
      ls_sql_ = sql::create_database(ls_dbname_, gs_.gs_database_data, ls_datafile_,
                                     gs_.gs_database_log, ls_logfile_, with_size);
      execute();
    };
    statement(true);
    // Current servers refuse one-megabyte files when their model database is
    // larger; the server's own initial size will do then.
    if (sqlca_.sqlcode != 0 && sqlca_.sqldbcode == kModelTooLarge) statement(false);
    if (sqlca_.sqlcode != 0) return fail(-8, "创建数据库失败!");
    ui_.set_status("创建数据库成功!");
    return true;
  }

  bool set_default_database() {
    ui_.set_status("更改数据库权限...");
    ls_sql_ = sql::default_database(gs_.gs_logid, ls_dbname_);
    execute();
    if (sqlca_.sqlcode != 0) return fail(-9, "更改数据库权限失败!");
    return true;
  }

  bool restore() {
    ui_.set_status("装载数据...");
    ls_sql_ =
        sql::restore_database(ls_dbname_, ui_.text(ed_.field_backupfile), ed_.restore_options,
                              gs_.gs_database_data, ls_datafile_, gs_.gs_database_log, ls_logfile_);
    {
      RestoreProgress progress(sqlca_, ui_);
      execute();
    }
    if (sqlca_.sqlcode != 0) return fail(-10, kLoadFailed);
    ui_.set_status("装载数据成功!");
    return true;
  }

  // "allow updates" on and off again, each made effective at once. The
  // numbers in the texts skip 3 and 4.
  bool configure() {
    struct Step {
      const char* statement;
      int number;
    };
    static constexpr Step kSteps[] = {
        {sql::kAllowUpdatesOn, 1},
        {sql::kReconfigure, 2},
        {sql::kAllowUpdatesOff, 5},
        {sql::kReconfigure, 6},
    };
    ui_.set_status("配置数据库...");
    for (const Step& step : kSteps) {
      ls_sql_ = step.statement;
      execute();
      if (sqlca_.sqlcode != 0)
        return fail(-10 - step.number, "修改数据配置" + std::to_string(step.number) + "失败!");
    }
    return true;
  }

  int finish() {
    ui_.set_status("数据库安装成功!");
    db([&] { sqlca_.disconnect(); });
    ui_.set_install_enabled(false);
    ui_.message_box(gs_.gs_appname, "数据库安装成功!");
    return 0;
  }

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
};

}  // namespace

int wf_mss2000_setup(SetupContext& ctx) { return InstallRun(ctx, mss2000_edition()).run(); }

int wf_mss7_setup(SetupContext& ctx) { return InstallRun(ctx, mss7_edition()).run(); }

}  // namespace dbsetup
