// The stages that read or write a whole database: the backup's check to its
// end, the copy of the old database, the new database with its data, and the
// server option that ends an install.

#include <cstdio>
#include <string>

#include "install/install_run.h"
#include "install/progress.h"
#include "platform/text_case.h"

namespace dbsetup {

namespace {

constexpr const char* kLoadFailed = "装载数据失败!";
// The server refuses a database smaller than its model database.
constexpr int kModelTooLarge = 1803;
// BACKUP of a database that an earlier restore left unfinished.
constexpr int kInTheMiddleOfARestore = 927;
// RESTORE VERIFYONLY reports its progress from SQL Server 2005 on.
constexpr SqlVersion kFirstVerifyWithStats{9, 0};

// Shows a statement's progress messages in the window's progress bar while
// it lives, and hides the bar again however the statement ends.
class ProgressBar {
 public:
  ProgressBar(Transaction& sqlca, WindowUi& ui) : sqlca_(sqlca), ui_(ui) {
    ui_.set_progress(0);
    // Runs on the thread that carries the statement.
    sqlca_.set_message_handler([&ui = ui_](const DbMessage& message) {
      if (auto percent = restore_percent(message.text)) ui.set_progress(*percent);
    });
  }
  ~ProgressBar() {
    sqlca_.set_message_handler(nullptr);
    ui_.set_progress(-1);
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

 private:
  Transaction& sqlca_;
  WindowUi& ui_;
};

std::string timestamp(const LocalTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d_%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

}  // namespace

// Before the old database goes, the backup that replaces it must be readable
// to its end.
bool InstallRun::verify_backup() {
  ui_.set_status("校验备份文件...");
  const auto server = parse_sql_version(sqlca_.server_version());
  ls_sql_ = sql::verify_backup(page().backup, server && *server >= kFirstVerifyWithStats);
  {
    ProgressBar progress(sqlca_, ui_);
    execute();
  }
  if (sqlca_.sqlcode != 0)
    return fail(-10, kLoadFailed, gs_.gs_appname, sqlca_.sqlerrtext, Field::backup);
  ui_.set_status("校验备份文件完毕!");
  return true;
}

// A copy of the old database in the data folder, named after it and the
// moment it was taken, from which this program can restore it.
bool InstallRun::copy_old_database() {
  if (!make_copy_) return true;
  const LocalTime now =
      ctx_.platform.clock ? ctx_.platform.clock->now() : make_system_clock()->now();
  std::string copy = folder_ + ls_dbname_ + "_" + timestamp(now) + ".bak";
  // Never over the backup about to be restored (an earlier copy, chosen
  // within the same second).
  if (equal_ignoring_case(copy, page().backup)) copy.insert(copy.size() - 4, "_2");
  ui_.set_status("备份旧数据库...");
  ls_sql_ = sql::backup_database(ls_dbname_, copy);
  {
    ProgressBar progress(sqlca_, ui_);
    execute();
  }
  if (sqlca_.sqlcode != 0 && sqlca_.sqldbcode == kInTheMiddleOfARestore) {
    // An earlier install's restore never finished: there is nothing to keep.
    ui_.set_status("旧数据库处于未完成的还原状态，没有可备份的数据，不备份直接覆盖。");
    return true;
  }
  if (sqlca_.sqlcode != 0) {
    const std::string short_text = "检测旧数据失败!";
    return fail(-3, short_text, short_text,
                "不能备份旧数据库，旧数据库没有任何改动。\n" + sqlca_.sqlerrtext);
  }
  copy_ = copy;
  ctx_.form.set_old_database_copy(copy);
  ui_.set_status("备份旧数据库完毕!");
  return true;
}

bool InstallRun::create_database() {
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

bool InstallRun::set_default_database() {
  ui_.set_status("更改数据库权限...");
  ls_sql_ = sql::default_database(gs_.gs_logid, ls_dbname_);
  execute();
  if (sqlca_.sqlcode != 0) return fail(-9, "更改数据库权限失败!");
  return true;
}

bool InstallRun::restore() {
  ui_.set_status("装载数据...");
  ls_sql_ =
      sql::restore_database(ls_dbname_, page().backup, ed_.restore_options, gs_.gs_database_data,
                            ls_datafile_, gs_.gs_database_log, ls_logfile_, more_moves_);
  {
    ProgressBar progress(sqlca_, ui_);
    execute();
  }
  if (sqlca_.sqlcode != 0) return fail(-10, kLoadFailed);
  ui_.set_status("装载数据成功!");
  return true;
}

// "allow updates" on and off again, each made effective at once. The
// numbers in the texts skip 3 and 4.
bool InstallRun::configure() {
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

int InstallRun::finish() {
  ui_.set_status("数据库安装成功!");
  db([&] { sqlca_.disconnect(); });
  ui_.set_install_enabled(false);
  std::string text = "数据库安装成功!";
  if (!copy_.empty()) text += "\n旧数据库已备份到：" + copy_;
  ui_.message_box(gs_.gs_appname, text);
  return 0;
}

}  // namespace dbsetup
