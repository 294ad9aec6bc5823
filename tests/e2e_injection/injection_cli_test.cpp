// The administrator password through db_setup_cli, run as the operator runs
// it: from the program's folder, the password in DB_SETUP_PASSWORD. With the
// right password the install goes through; a wrong one (the right one cut
// short where the payload begins) fails as a password. Neither ever shows on
// standard output or standard error.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "e2e_injection/injection_matrix.h"
#include "support/standin_process.h"
#include "support/temp_files.h"

extern char** environ;

namespace dbsetup::injection {
namespace {

using nlohmann::json;
using testing::StandinServer;
using testing::TempDir;

struct Finished {
  int status = -1;  // the exit status; -1 when it had to be killed
  std::string out, err;
};

// Runs `args` in `dir` with `env` added to this process's environment; kills
// it when it has not finished after `limit`.
Finished run(const std::vector<std::string>& args, const std::string& dir,
             const std::vector<std::string>& env,
             std::chrono::seconds limit = std::chrono::seconds(60)) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& own : env)
      replaced = replaced || entry.compare(0, own.find('=') + 1, own, 0, own.find('=') + 1) == 0;
    if (!replaced) environment.push_back(entry);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> argv, envp;
  std::vector<std::string> a = args;
  for (auto& s : a) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : environment) envp.push_back(s.data());
  envp.push_back(nullptr);

  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    const int null = ::open("/dev/null", O_RDONLY);  // no terminal: no questions
    ::dup2(null, STDIN_FILENO);
    ::close(out[0]);
    ::close(err[0]);
    if (::chdir(dir.c_str()) == 0) ::execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);

  Finished f;
  const auto until = std::chrono::steady_clock::now() + limit;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&f.out, &f.err};
  int open_pipes = 2;
  bool killed = false;
  while (open_pipes > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      killed = true;
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  for (auto& p : fds)
    if (p.fd >= 0) ::close(p.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!killed && WIFEXITED(status)) f.status = WEXITSTATUS(status);
  return f;
}

// The program's folder: dbinstall.ini and a registry export with SQL Server
// 2000's default instance (whose keys serve SQL Server 7.0 as well).
struct ProgramFolder {
  ProgramFolder() {
    dir.write("dbinstall.ini",
              "[database]\r\ndatabasename=nuvex\r\ndataname=nuvex_Data\r\nlogname=nuvex_Log\r\n");
    registry =
        dir.write("registry.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server]\r\n"
                  "\"InstalledInstances\"=" +
                      testing::reg_multi_sz({"MSSQLSERVER"}) +
                      "\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLServer\\Setup]\r\n"
                      "\"SQLDataRoot\"=\"C:\\\\MSSQL\"\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer]\r\n"
                      "\"DefaultDomain\"=\"WG\"\r\n");
  }
  TempDir dir;
  std::string registry;
};

// The password as the front end could have printed it: whole, or without
// the carriage returns it drops from message texts.
bool shows(const std::string& output, const std::string& password) {
  std::string plain;
  for (char c : password)
    if (c != '\r') plain += c;
  return output.find(password) != std::string::npos || output.find(plain) != std::string::npos;
}

class CliPassword : public ::testing::TestWithParam<Payload> {};

TEST_P(CliPassword, LogsOnOrFailsAsAPasswordAndNeverShows) {
  const Payload& p = GetParam();
  const std::string password = embed(p, "pw", "sec");
  // SQL Server takes no password over 128 characters and FreeTDS none with
  // "};": the front end refuses those before anything is sent.
  const bool refused = p.text.empty() || p.text.find("};") != std::string::npos;
  ProgramFolder folder;

  {
    SCOPED_TRACE("the right password");
    StandinServer server({"--login", "sa:" + password + ":sysadmin"});
    const std::string backup = server.make_backup("nuvex", "nuvex_Data", "nuvex_Log");
    const Finished f =
        run({DB_SETUP_CLI_BINARY, "--server", server.address(), "--data-folder",
             server.files_root(), "--backup", backup, "--yes"},
            folder.dir.path(),
            {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=" + password});
    EXPECT_FALSE(shows(f.out + f.err, password)) << "the password showed";
    const auto log = server.log();
    if (refused) {
      EXPECT_EQ(f.status, 1) << f.err;
      EXPECT_TRUE(log.empty());
    } else {
      EXPECT_EQ(f.status, 0) << f.out << f.err;
      EXPECT_NE(f.out.find("数据库安装成功!"), std::string::npos) << f.out;
      ASSERT_FALSE(log.empty());
      json first;
      for (const auto& e : log)
        if (e.value("type", "") == "login" && first.is_null()) first = e;
      EXPECT_EQ(first["user"], "sa");
      EXPECT_EQ(first["ok"], true);
    }
  }
  {
    SCOPED_TRACE("a wrong password");
    const std::string cut = p.text.empty() ? password.substr(0, 128) : "pw";
    StandinServer server({"--login", "sa:" + cut + ":sysadmin", "--login", "zq:" + cut});
    const std::string backup = server.make_backup("nuvex", "nuvex_Data", "nuvex_Log");
    const Finished f =
        run({DB_SETUP_CLI_BINARY, "--edition", "mss7", "--database", "nuvex", "--server",
             server.address(), "--data-folder", server.files_root(), "--backup", backup, "--yes"},
            folder.dir.path(),
            {"DB_SETUP_REGISTRY=" + folder.registry, "DB_SETUP_PASSWORD=" + password});
    EXPECT_EQ(f.status, 1) << f.out << f.err;
    EXPECT_FALSE(shows(f.out + f.err, password)) << "the password showed";
    // The message box: the failure line, then the server's or driver's text.
    EXPECT_NE(f.err.find("连接数据库失败!\n\n错误信息:"), std::string::npos) << f.err;
    const auto log = server.log();
    if (refused) {
      EXPECT_TRUE(log.empty());
    } else {
      EXPECT_NE(f.err.find("Login failed for user 'sa'."), std::string::npos) << f.err;
      int logins = 0;
      for (const auto& e : log) {
        if (e.value("type", "") != "login") continue;
        ++logins;
        EXPECT_EQ(e["user"], "sa");
        EXPECT_EQ(e["ok"], false);
        EXPECT_EQ(e["errors"], json({18456}));
      }
      EXPECT_GE(logins, 1);
      for (const auto& e : log) EXPECT_FALSE(e.contains("statement")) << e.dump();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, CliPassword, ::testing::ValuesIn(kConnectionPayloads),
                         [](const ::testing::TestParamInfo<Payload>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace dbsetup::injection
