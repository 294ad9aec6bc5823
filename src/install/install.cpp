#include "install/install.h"

#include <string>
#include <vector>

#include "install/install_run.h"
#include "platform/server_address.h"

namespace dbsetup {

namespace {

// Joins a failure line and the server's error text in a message box.
constexpr const char* kErrorInfo = "\r\n\n错误信息:";
constexpr const char* kWarningTitle = "系统严重警告";
constexpr const char* kFixedPassword = "zq";

// sp_addlogin refused the password under the server's password policy:
// 15114 to 15119 from Windows' policy, 33062 to 33064 from the one SQL Server
// on Linux applies itself.
bool password_policy_error(int number) {
  return (number >= 15114 && number <= 15119) || (number >= 33062 && number <= 33064);
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

}  // namespace

// The stages in the order they run. Everything that can be known to fail is
// checked before the first change on the server; an existing database is
// copied, and the install login made ready, before it is dropped, so that
// nothing the operator had is gone for good.
InstallOutcome InstallRun::run() {
  const int code = stages();
  return {code, stage_, ls_err_, reason_, server_text_, copy_};
}

int InstallRun::stages() {
  BusyPointer busy(ui_);
  ctx_.form.set_old_database_copy("");
  ls_dbname_ = page().database;
  if (!check_values()) return failure_exit();
  // A malformed address could reach another server: refused before the logon.
  if (const std::string bad = server_address_problem(page().server); !bad.empty()) {
    fail(-1, "连接数据库失败!", gs_.gs_appname, bad, Field::server);
    return failure_exit();
  }
  if (ed_.confirm_name && !confirm_name()) return 0;

  stage_ = InstallStage::logon;
  if (!logon_master()) return failure_exit();
  stage_ = InstallStage::checks;
  if (!check_backup() || !check_sysadmin()) return failure_exit();
  derive_paths();
  const bool exists = database_exists();
  if (!check_folder() || !check_target_files() || !check_space()) return failure_exit();

  if (exists) {
    stage_ = InstallStage::overwrite;
    if (!confirm_overwrite()) return failure_exit();
    if (ed_.check_leftover_files && !confirm_leftover_files()) return failure_exit();
    if (!confirm_without_copy()) return failure_exit();
    if (!verify_backup() || !copy_old_database()) return failure_exit();
    stage_ = InstallStage::login;
    if (!provision_login()) return failure_exit();
    stage_ = InstallStage::drop;
    if (!drop_database()) return failure_exit();
  } else {
    if (ed_.check_leftover_files && !confirm_leftover_files()) return failure_exit();
    stage_ = InstallStage::login;
    if (!provision_login()) return failure_exit();
  }
  remove_leftover_files();

  stage_ = InstallStage::database;
  if (!create_database()) return failure_exit();
  if (!set_default_database()) return failure_exit();
  if (!restore()) return failure_exit();

  stage_ = InstallStage::configure;
  if (!configure()) return failure_exit();
  stage_ = InstallStage::done;
  return finish();
}

void InstallRun::execute() {
  db([&] { sqlca_.execute_immediate(ls_sql_); });
}

bool InstallRun::rows(DbTable& table) {
  table = {};
  db([&] { sqlca_.select_rows(ls_sql_, table); });
  return sqlca_.sqlcode == 0 && !table.rows.empty();
}

bool InstallRun::ask(const std::string& title, const std::string& text, int default_button) {
  return ui_.message_box(title, text, MsgIcon::Exclamation, MsgButtons::YesNo, default_button) ==
         kYes;
}

bool InstallRun::fail(int code, const std::string& short_text, const std::string& title,
                      const std::string& details, std::optional<Field> field) {
  std::string text = short_text + kErrorInfo + details;
  reason_ = details;
  server_text_ = sqlca_.sqlcode != 0 ? sqlca_.sqlerrtext : "";
  // Past the drop the old database lives on in its copy only.
  if (dropped_ && !copy_.empty())
    text += "\n\n旧数据库已备份到：" + copy_ +
            "\n在本程序中选择该文件作为备份文件再次安装，即可恢复旧数据库。";
  ui_.message_box(title, text);
  if (field) ui_.focus(ed_.page, *field);
  ls_err_ = short_text;
  ll_rtn_ = code;
  return false;
}

bool InstallRun::fail(int code, const std::string& short_text) {
  return fail(code, short_text, gs_.gs_appname, sqlca_.sqlerrtext);
}

bool InstallRun::cancel(int code, const std::string& status) {
  ls_err_ = status;
  ll_rtn_ = code;
  return false;
}

int InstallRun::failure_exit() {
  ui_.set_status(ls_err_);
  db([&] { sqlca_.disconnect(); });
  return ll_rtn_;
}

// The server folds the letter case of both sides by its own rules, which
// are the rules by which it would find the names equal.
bool InstallRun::database_exists() {
  ls_tavoxdb_.clear();
  ls_sql_ = sql::kExistenceQuery;
  db([&] { sqlca_.select_one(ls_sql_, ls_dbname_, ls_tavoxdb_); });
  return sqlca_.sqlcode == 0 && !ls_tavoxdb_.empty();
}

bool InstallRun::confirm_overwrite() {
  const std::string text = "数据库(" + ls_dbname_ + ")，已安装到此机器上，\n" +
                           "请确认是否继续安装，覆盖其数据？\n\n"
                           "注意：此举可能造成系统原来数据物理丢失，不能恢复。"
                           "请\n在确认之前和系统管理员联系！";
  if (ask(kWarningTitle, text, kNo)) return true;
  return cancel(-2, "取消数据库安装!");
}

bool InstallRun::drop_database() {
  ui_.set_status("检测旧数据...");
  ls_sql_ = sql::drop_database(ls_dbname_);
  execute();
  const bool tolerated =
      ed_.drop_tolerated_error != 0 && sqlca_.sqldbcode == ed_.drop_tolerated_error;
  if (sqlca_.sqlcode == -1 && !tolerated) {
    const std::string short_text = "检测旧数据失败!";
    return fail(-3, short_text, short_text, sqlca_.sqlerrtext);
  }
  dropped_ = true;
  ui_.set_status("检测旧数据完毕!");
  return true;
}

// The files the operator agreed to delete go only once nothing the install
// can foresee stands in the way any more.
void InstallRun::remove_leftover_files() {
  if (!delete_leftovers_) return;
  FileSystem* files = ctx_.platform.files;
  files->remove(ls_datafile_);
  files->remove(ls_logfile_);
}

std::string InstallRun::install_password() const {
  return ed_.password_from_settings ? gs_.gs_password : kFixedPassword;
}

bool InstallRun::provision_login() {
  drop_old_login();
  return create_login() && logon_install_login();
}

// Whether the old login existed, was dropped or was refused, the run goes on.
void InstallRun::drop_old_login() {
  ui_.set_status("检测旧用户...");
  ls_sql_ = sql::drop_login(gs_.gs_logid);
  execute();
  ui_.set_status("检测旧用户完毕!");
}

// Only the last role grant decides: a refused creation goes unnoticed when
// the login is still there to be granted its roles. A password that the
// server's policy refuses is set once more with the policy off, since the
// application logs on with exactly that password.
bool InstallRun::create_login() {
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

bool InstallRun::logon_install_login() {
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

InstallOutcome install(SetupContext& ctx, Page page) {
  return InstallRun(ctx, page == Page::mss7 ? mss7_edition() : mss2000_edition()).run();
}

int wf_mss2000_setup(SetupContext& ctx) { return install(ctx, Page::mss2000).code; }

int wf_mss7_setup(SetupContext& ctx) { return install(ctx, Page::mss7).code; }

InstallOutcome cb_dbsetup_clicked(SetupContext& ctx) {
  if (ctx.form.is_dbtype == "mss7") return install(ctx, Page::mss7);
  if (ctx.form.is_dbtype == "mss2000") return install(ctx, Page::mss2000);
  return {1, InstallStage::values, "", "", "", ""};
}

}  // namespace dbsetup
