#include "cli/install_watch.h"

#include <cstdlib>

#include "cli/cli.h"

namespace dbsetup::cli {

namespace {

// Status lines of the procedure that tell where it is.
constexpr const char* kRestoreRunning = "装载数据...";
constexpr const char* kInstalled = "数据库安装成功!";
constexpr const char* kInterruptedLine = "db_setup_cli: interrupted";

}  // namespace

void InstallWatch::out(const std::string& line) {
  std::lock_guard lock(output_);
  hooks_.out(terminal_text(line));
}

void InstallWatch::err(const std::string& line) {
  std::lock_guard lock(output_);
  hooks_.err(terminal_text(line));
}

void InstallWatch::database(std::string name) {
  std::lock_guard lock(mutex_);
  database_ = std::move(name);
}

void InstallWatch::logged_on() {
  // Waits while an interrupt is being decided: ended before the logon, the
  // program must not send anything more.
  std::lock_guard lock(mutex_);
  logged_on_ = true;
}

void InstallWatch::status(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    restoring_ = text == kRestoreRunning;
    if (text == kInstalled) finished_ = true;
    if (interrupted_) status_after_interrupt_ = true;
  }
  changed_.notify_all();
}

bool InstallWatch::returned() {
  bool interrupted;
  {
    std::lock_guard lock(mutex_);
    returned_ = true;
    interrupted = interrupted_;
  }
  changed_.notify_all();
  return interrupted;
}

std::vector<std::string> InstallWatch::interrupt_note() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  if (interrupted_restore_)
    lines.push_back("db_setup_cli: 装载数据被中断，数据库“" + database_ +
                    "”可能停留在还原中 (RESTORING) 状态，需要重新安装。");
  if (const std::string copy = hooks_.old_database_copy ? hooks_.old_database_copy() : "";
      !copy.empty())
    lines.push_back("db_setup_cli: 旧数据库的副本保存在 " + copy);
  return lines;
}

void InstallWatch::on_interrupt() {
  std::unique_lock lock(mutex_);
  if (returned_ || finished_) return;
  if (!logged_on_) end_with(130, {kInterruptedLine});  // keeps the lock: nothing more is sent
  interrupted_ = true;
  interrupted_restore_ = restoring_;
  lock.unlock();
  hooks_.cancel();
  lock.lock();
  if (changed_.wait_for(lock, kCancelGrace, [this] { return returned_ || finished_; })) return;

  // The server has not answered the cancel: end here, still holding the
  // lock, so that the install sends nothing more.
  const bool restore = interrupted_restore_;
  const std::string short_text = restore ? "装载数据失败!" : "数据库安装已中断!";
  std::string reason =
      (restore ? std::string("装载数据被中断") : std::string("正在执行的语句被中断")) +
      "：服务器在 " + std::to_string(kCancelGrace.count()) + " 秒内没有回应取消，连接已关闭。";
  if (restore)
    reason += "数据库“" + database_ + "”可能停留在还原中 (RESTORING) 状态，需要重新安装。";
  if (const std::string copy = hooks_.old_database_copy ? hooks_.old_database_copy() : "";
      !copy.empty())
    reason += "旧数据库的副本保存在 " + copy + "。";
  std::vector<std::string> lines;
  if (!status_after_interrupt_)
    lines.push_back(*hooks_.appname + ": " + short_text + "\n\n错误信息:" + reason);
  lines.push_back(kInterruptedLine);
  end_with(130, lines, status_after_interrupt_ ? std::string() : short_text);
}

void InstallWatch::end_with(int status, const std::vector<std::string>& err_lines,
                            const std::string& status_line) {
  std::unique_lock lock(output_, std::defer_lock);
  if (lock.try_lock_for(std::chrono::seconds(2))) {
    for (std::size_t i = 0; i < err_lines.size(); ++i) {
      // The status line goes between the box and the last line, as the
      // failure exit writes it after its box.
      if (i + 1 == err_lines.size() && !status_line.empty()) hooks_.out(terminal_text(status_line));
      hooks_.err(terminal_text(err_lines[i]));
    }
  }
  if (hooks_.end_now) hooks_.end_now(status);
  std::_Exit(status);
}

}  // namespace dbsetup::cli
