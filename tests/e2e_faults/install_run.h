#pragma once

// One run of the install procedure of either edition against a stand-in of
// its own, through the ODBC driver, with a window that records everything.

#include <chrono>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/transaction.h"
#include "install/install.h"
#include "platform/memory_ui.h"
#include "platform/platform.h"
#include "support/standin_process.h"

namespace dbsetup::faults {

inline constexpr const char* kAppName = "Marlox零售管理系统安装";
inline constexpr const char* kDbName = "nuvex";
inline constexpr const char* kSuccess = "数据库安装成功!";

enum class Edition { mss2000, mss7 };

inline const char* edition_name(Edition e) { return e == Edition::mss7 ? "mss7" : "mss2000"; }

// Blocking calls run on a worker thread, as in the Qt window.
class WorkerUi : public MemoryUi {
 public:
  void run_blocking(const std::function<void()>& work) override {
    std::thread worker(work);
    worker.join();
  }
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The window of one edition with every field filled in, pointed at a fresh
// stand-in started with `server_args`. Every question is answered Yes.
struct InstallRun {
  InstallRun(Edition edition, std::vector<std::string> server_args)
      : seven(edition == Edition::mss7), server(std::move(server_args)) {
    gs.gs_appname = kAppName;
    backup = server.make_backup(kDbName, "nuvex_Data", "nuvex_Log");
    const std::string page = seven ? "mss7" : "mss2000";
    ui.set_text(seven ? "sle_dbname" : "sle_dbname_2000", kDbName);
    ui.set_text("sle_" + page + "_servername", server.address());
    ui.set_text("sle_" + page + "_userid", "sa");
    ui.set_text("sle_" + page + "_password", "SECRET");
    ui.set_text("sle_" + page + "data_setuppath", server.files_root());
    ui.set_text("sle_" + page + "data_backupfile", backup);
    if (!seven) {  // the 7.0 procedure reads them from the backup
      gs.gs_database_data = "nuvex_Data";
      gs.gs_database_log = "nuvex_Log";
    }
    ui.answer = [](const std::string&, const std::string&, int) { return kYes; };
  }

  int run() {
    const auto start = std::chrono::steady_clock::now();
    const int code = seven ? wf_mss7_setup(ctx) : wf_mss2000_setup(ctx);
    elapsed = std::chrono::steady_clock::now() - start;
    return code;
  }

  // The boxes with only an OK button, in order: failure boxes and the
  // success message (the Yes/No questions are not among them).
  std::vector<MemoryUi::Event> ok_boxes() const {
    std::vector<MemoryUi::Event> out;
    for (const auto& box : ui.message_boxes())
      if (box.buttons == MsgButtons::Ok) out.push_back(box);
    return out;
  }

  // The restore's progress as the window's bar showed it (-1: hidden).
  std::vector<int> progress() const {
    std::vector<int> out;
    for (const auto& e : ui.events())
      if (e.kind == MemoryUi::Event::Progress) out.push_back(e.number);
    return out;
  }

  bool seven;
  testing::StandinServer server;
  std::string backup;
  WorkerUi ui;
  Settings gs;
  Transaction sqlca{make_odbc_client()};
  WindowState state;
  SetupContext ctx{gs, sqlca, ui, state, default_platform()};
  std::chrono::steady_clock::duration elapsed{};
};

}  // namespace dbsetup::faults
