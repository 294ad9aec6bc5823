#include "support/standin_process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace dbsetup::testing {

namespace {

std::string binary_path() {
  if (const char* p = std::getenv("DB_SETUP_STANDIN")) return p;
#ifdef DB_SETUP_STANDIN_BINARY
  return DB_SETUP_STANDIN_BINARY;
#else
  return "sqlserver_standin";
#endif
}

// Runs the binary with `args`; returns its pid and, when `out_fd` is given,
// the read end of a pipe on its standard output.
int spawn(const std::vector<std::string>& args, int* out_fd) {
  std::vector<char*> argv;
  std::string bin = binary_path();
  argv.push_back(bin.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  int fds[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out_fd) {
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
  }
  pid_t pid = -1;
  int rc = posix_spawn(&pid, bin.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (out_fd) {
    ::close(fds[1]);
    *out_fd = fds[0];
  }
  if (rc != 0) {
    if (out_fd) ::close(*out_fd);
    throw std::runtime_error("cannot start " + bin);
  }
  return pid;
}

// Reads the first line of the child's output, waiting at most `timeout`.
std::string first_line(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  auto until = std::chrono::steady_clock::now() + timeout;
  while (line.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[64];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  return line.substr(0, line.find('\n'));
}

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

StandinServer::StandinServer(std::vector<std::string> extra_args) {
  std::string base = std::filesystem::temp_directory_path() / "standin-XXXXXX";
  if (!::mkdtemp(base.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = base;
  std::filesystem::create_directories(files_root());
  std::vector<std::string> args = {"--port",         "0",
                                   "--idle-timeout", "120",
                                   "--log",          dir_ + "/log.jsonl",
                                   "--state",        dir_ + "/state.json",
                                   "--files-root",   files_root()};
  bool has_login = false;
  for (const auto& a : extra_args) has_login = has_login || a == "--login";
  if (!has_login) {
    args.push_back("--login");
    args.push_back("sa:SECRET:sysadmin");
  }
  args.insert(args.end(), extra_args.begin(), extra_args.end());
  int fd = -1;
  pid_ = spawn(args, &fd);
  std::string line = first_line(fd, std::chrono::seconds(20));
  ::close(fd);
  try {
    port_ = std::stoi(line);
  } catch (...) {
    port_ = 0;
  }
  if (port_ <= 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    std::filesystem::remove_all(dir_);
    throw std::runtime_error("the stand-in did not start (output: '" + line + "')");
  }
}

StandinServer::~StandinServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (!std::getenv("DB_SETUP_KEEP_STANDIN")) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

int StandinServer::port() const { return port_; }
std::string StandinServer::address() const { return "127.0.0.1," + std::to_string(port_); }
std::string StandinServer::dir() const { return dir_; }
std::string StandinServer::files_root() const { return dir_ + "/disk"; }

std::vector<nlohmann::json> StandinServer::log() const {
  std::vector<nlohmann::json> out;
  std::istringstream in(read_text(dir_ + "/log.jsonl"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (!j.is_discarded()) out.push_back(std::move(j));
  }
  return out;
}

std::vector<std::string> StandinServer::statements() const {
  std::vector<std::string> out;
  for (const auto& e : log()) {
    if (e.contains("statement") && e["statement"].is_string()) out.push_back(e["statement"]);
  }
  return out;
}

std::vector<nlohmann::json> StandinServer::logons() const {
  std::vector<nlohmann::json> out;
  for (auto& e : log())
    if (e.value("type", "") == "login") out.push_back(std::move(e));
  return out;
}

nlohmann::json StandinServer::state() const {
  auto j = nlohmann::json::parse(read_text(dir_ + "/state.json"), nullptr, false);
  if (j.is_discarded()) return nlohmann::json::object();
  return j;
}

std::string StandinServer::make_backup(const std::string& name, const std::string& dataname,
                                       const std::string& logname, const std::string& version) {
  std::string path = files_root() + "/" + name + ".bak";
  std::vector<std::string> args = {"--make-backup", path, dataname, logname};
  if (!version.empty()) args.insert(args.end(), {"--backup-version", version});
  int pid = spawn(args, nullptr);
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
