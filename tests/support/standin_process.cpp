#include "support/standin_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/child_process.h"

namespace dbsetup::testing {

using Clock = std::chrono::steady_clock;

namespace {

const std::string kBinary = DB_SETUP_STANDIN_BINARY;

// Runs the stand-in with `args`; returns its pid and, when `out_fd` is given,
// the read end of a pipe on its standard output.
pid_t spawn(std::vector<std::string> args, int* out_fd) {
  args.insert(args.begin(), kBinary);
  const std::vector<char*> argv = argv_of(args);
  int fds[2] = {-1, -1};
  if (out_fd && ::pipe(fds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (out_fd) ::dup2(fds[1], STDOUT_FILENO);
    for (int fd : fds)
      if (fd >= 0) ::close(fd);
    exec_child(argv, ".", {});
  }
  if (out_fd) {
    ::close(fds[1]);
    *out_fd = fds[0];
  }
  if (pid < 0) throw std::runtime_error("cannot start " + kBinary);
  return pid;
}

// The first line of the child's output, waiting at most 20 seconds for it.
std::string first_line(int fd) {
  std::string line;
  pollfd p{fd, POLLIN, 0};
  char c = 0;
  for (auto until = Clock::now() + std::chrono::seconds(20); c != '\n' && Clock::now() < until;) {
    if (::poll(&p, 1, 100) <= 0) continue;
    if (::read(fd, &c, 1) != 1) break;
    line += c;
  }
  return line;
}

// Ends the server, by force when it has not ended 5 seconds after being asked.
void end_process(pid_t pid) {
  if (pid > 0) ::kill(pid, SIGTERM);
  for (int i = 0; pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0; ++i) {
    if (i == 500) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

StandinServer::StandinServer(std::vector<std::string> extra_args) {
  std::filesystem::create_directories(files_root());
  std::vector<std::string> args = {"--port",         "0",
                                   "--idle-timeout", "120",
                                   "--log",          dir() + "/log.jsonl",
                                   "--state",        dir() + "/state.json",
                                   "--files-root",   files_root()};
  if (std::find(extra_args.begin(), extra_args.end(), "--login") == extra_args.end())
    args.insert(args.end(), {"--login", "sa:SECRET:sysadmin"});
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  args_ = args;
  launch(args);
}

StandinServer::~StandinServer() { end_process(pid_); }

void StandinServer::launch(std::vector<std::string> args) {
  int fd = -1;
  pid_ = spawn(std::move(args), &fd);
  const std::string line = first_line(fd);
  ::close(fd);
  const int port = std::atoi(line.c_str());
  if (port <= 0) {
    end_process(pid_);
    pid_ = -1;
    throw std::runtime_error("the stand-in did not start (output: '" + line + "')");
  }
  port_ = port;
}

void StandinServer::stop() {
  end_process(pid_);
  pid_ = -1;
}

void StandinServer::start() {
  if (running()) return;
  std::vector<std::string> args = args_;
  args[1] = std::to_string(port_);  // "--port", "0" lead the arguments
  args.insert(args.end(), {"--load-state", dir() + "/state.json"});
  const int port = port_;
  launch(args);
  if (port_ != port) throw std::runtime_error("the stand-in came back on another port");
}

void StandinServer::restart() {
  stop();
  start();
}

std::vector<nlohmann::json> StandinServer::log() const {
  std::vector<nlohmann::json> out;
  std::ifstream in(dir() + "/log.jsonl");
  for (std::string line; std::getline(in, line);) {
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_discarded()) out.push_back(std::move(j));
  }
  return out;
}

std::vector<std::string> StandinServer::statements() const {
  std::vector<std::string> out;
  for (const auto& e : log())
    if (e.contains("statement") && e["statement"].is_string()) out.push_back(e["statement"]);
  return out;
}

std::size_t StandinServer::count(const std::string& prefix) const {
  const auto all = statements();
  return static_cast<std::size_t>(std::count_if(
      all.begin(), all.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
}

std::vector<nlohmann::json> StandinServer::logons() const {
  std::vector<nlohmann::json> out;
  for (auto& e : log())
    if (e.value("type", "") == "login") out.push_back(std::move(e));
  return out;
}

nlohmann::json StandinServer::state() const {
  std::ifstream in(dir() + "/state.json");
  auto j = nlohmann::json::parse(in, nullptr, false);
  return j.is_discarded() ? nlohmann::json::object() : j;
}

std::string StandinServer::make_backup(const std::string& name, const std::string& dataname,
                                       const std::string& logname, const std::string& version) {
  return make_backup(name, dataname, logname, BackupOptions{.version = version});
}

std::string StandinServer::make_backup(const std::string& name, const std::string& dataname,
                                       const std::string& logname, const BackupOptions& options) {
  std::string path = files_root() + "/" + name + ".bak";
  std::vector<std::string> args = {"--make-backup", path,        dataname, logname,
                                   "--backup-type", options.type};
  if (!options.version.empty()) args.insert(args.end(), {"--backup-version", options.version});
  for (const auto& f : options.files) args.insert(args.end(), {"--backup-file", f});
  if (options.truncated_at)
    args.insert(args.end(), {"--backup-truncated", std::to_string(*options.truncated_at)});
  const pid_t pid = spawn(args, nullptr);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("cannot write the backup " + path);
  return path;
}

StandinInstances::StandinInstances(std::string name, std::vector<std::string> extra_args)
    : name_(std::move(name)) {
  std::vector<std::string> named_args = extra_args;
  named_args.insert(named_args.end(), {"--instance-name", name_});
  named_ = std::make_unique<StandinServer>(named_args);
  extra_args.insert(extra_args.end(), {"--browser", "--browser-instance",
                                       name_ + "=" + std::to_string(named_->port())});
  default_ = std::make_unique<StandinServer>(extra_args);
}

}  // namespace dbsetup::testing
