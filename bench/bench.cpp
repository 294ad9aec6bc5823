// db_setup_bench: start-up, install and detection figures of the Release
// build, measured from outside the program (see scripts/bench).
//
//   1. Start to a filled window: bench_window_start (db_setup's own start
//      path) as a child process, offscreen, with a registry file and
//      dbinstall.ini in a temporary folder; time from spawning it to its
//      first paint with the detection's fields filled, and its peak resident
//      memory.
//   2. A full install: db_setup_cli against a fresh stand-in, beside
//      minimal_client sending the same requests (taken from the stand-in's
//      log of the installer's run, and checked against it afterwards); the
//      ratio of the medians is the installer's overhead. Runs of both that
//      end earlier (at start-up: --help and an empty plan; at a first logon
//      the server refuses) split their CPU time by stage. A second build of
//      minimal_client with the C++ runtime linked in, as db_setup_cli has it,
//      gives the like-for-like CPU ratio of the whole install.
//   3. Detection with 10, 100 and 1,000 instances in the registry file: the
//      registry read plus wf_check_dbsetup, once on the headless MemoryUi
//      and once in the Qt window (whose instance list is a real combo box).
//
// Usage: db_setup_bench [--runs N] [--verbose]
//   --runs N    repetitions of each measurement (at least 3, default 31)
//   --verbose   every single figure on stderr, in the order measured

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/memory_ui.h"
#include "app/settings.h"
#include "app/transaction.h"
#include "detect/detect.h"
#include "platform/platform.h"
#include "platform/profile_ini.h"
#include "platform/registry_file.h"
#include "window/qt_window_ui.h"
#include "window/w_createdb.h"

namespace fs = std::filesystem;

namespace {

const char* const kPassword = "Bench-pw1";
const char* const kDatabase = "shopdb";
// The stand-in's drive D: (100 GB free) is this folder under its files root:
// D:\x is <files-root>/D/x. The instances' data roots are on it.
const char* const kDriveFolder = "D";
const char* const kDrive = "D:102400:D";

long long monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

// The first three fields of /proc/loadavg: the machine's load while we ran.
std::string load_average() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "db_setup_bench: %s\n", what.c_str());
  std::exit(1);
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) die("cannot write " + path.string());
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// ---- child processes ----------------------------------------------------------------

struct Child {
  explicit Child(std::vector<std::string> a, std::vector<std::string> e = {}, fs::path dir = {},
                 fs::path output = {})
      : argv(std::move(a)), env(std::move(e)), cwd(std::move(dir)), out(std::move(output)) {}
  std::vector<std::string> argv;
  std::vector<std::string> env;  // NAME=value, added to ours
  fs::path cwd;
  fs::path out;  // stdout; /dev/null when empty
};

struct Finished {
  int status = -1;        // exit status, -1 when killed by a signal
  long long spawned = 0;  // monotonic ns just before fork()
  long long ended = 0;    // monotonic ns after wait4() returned
  long max_rss_kb = 0;
  double cpu_ms = 0;  // user + system time of the child
};

pid_t start(const Child& c, int stdout_fd = -1) {
  pid_t pid = fork();
  if (pid < 0) die("fork failed");
  if (pid == 0) {
    if (!c.cwd.empty() && chdir(c.cwd.c_str()) != 0) _exit(127);
    for (const std::string& e : c.env) putenv(const_cast<char*>(e.c_str()));
    int out = stdout_fd;
    if (out < 0)
      out = open(c.out.empty() ? "/dev/null" : c.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, 1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    std::vector<char*> args;
    for (const std::string& a : c.argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

Finished run(const Child& c) {
  Finished f;
  f.spawned = monotonic_ns();
  pid_t pid = start(c);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) die("wait4 failed");
  f.ended = monotonic_ns();
  f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  f.max_rss_kb = usage.ru_maxrss;
  f.cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  return f;
}

// The SQL Server stand-in on a free loopback port, for one install. It ends
// itself after a minute without connections should we not stop it.
class Standin {
 public:
  Standin(const std::string& exe, const fs::path& files_root, const fs::path& log) {
    int fds[2];
    if (pipe(fds) != 0) die("pipe failed");
    Child c({exe, "--port", "0", "--idle-timeout", "60", "--login",
             std::string("sa:") + kPassword + ":sysadmin", "--files-root", files_root.string(),
             "--drive", kDrive, "--log", log.string()});
    pid_ = start(c, fds[1]);
    close(fds[1]);
    std::string line;
    char ch;
    while (read(fds[0], &ch, 1) == 1 && ch != '\n') line.push_back(ch);
    close(fds[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) die("the stand-in did not start");
  }
  ~Standin() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// ---- figures --------------------------------------------------------------------------

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Series {
  std::vector<double> values;  // in the order measured
  double med() const { return median(values); }
  double min() const { return *std::min_element(values.begin(), values.end()); }
  double max() const { return *std::max_element(values.begin(), values.end()); }
};

// ---- the test folder ------------------------------------------------------------------

// Backslashes doubled for a "..." value of a .reg file.
std::string reg_escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\\' || c == '"') out.insert(out.end() - 1, '\\');
  }
  return out;
}

// hex(7): the UTF-16LE texts, each ended by a NUL, then the list's own NUL;
// wrapped at 80 columns with trailing backslashes as regedit writes it.
std::string multi_string_value(const std::string& name, const std::vector<std::string>& texts) {
  std::vector<unsigned char> bytes;
  for (const std::string& t : texts) {
    for (char c : t) {
      bytes.push_back(static_cast<unsigned char>(c));
      bytes.push_back(0);
    }
    bytes.push_back(0);
    bytes.push_back(0);
  }
  bytes.push_back(0);
  bytes.push_back(0);
  std::string line = "\"" + name + "\"=hex(7):";
  std::string out;
  char hex[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
    line += hex;
    if (i + 1 < bytes.size()) {
      line += ',';
      if (line.size() > 76) {
        out += line + "\\\n";
        line = "  ";
      }
    }
  }
  return out + line + "\n";
}

// A registry with `count` named SQL Server 2000 instances, each with its data
// root on the server's drive D: and its server key.
std::string make_registry(int count) {
  std::vector<std::string> names;
  for (int i = 1; i <= count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "SHOP%04d", i);
    names.push_back(name);
  }
  const std::string base = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server";
  std::string reg = "Windows Registry Editor Version 5.00\n\n[" + base + "]\n" +
                    multi_string_value("InstalledInstances", names) + "\n";
  for (const std::string& n : names) {
    reg += "[" + base + "\\" + n + "\\Setup]\n\"SQLDataRoot\"=\"" + reg_escaped("D:\\MSSQL$" + n) +
           "\"\n\n";
    reg += "[" + base + "\\" + n + "\\MSSQLServer]\n\"DefaultDomain\"=\"BENCH\"\n\n";
  }
  return reg;
}

// The folder the installer starts in: dbinstall.ini, a backup, registries,
// and the stand-in's disk under server/.
struct Folder {
  fs::path dir;
  fs::path registry;       // 1 instance, data root on D:
  fs::path server_disk;    // the stand-in's --files-root
  fs::path instance_data;  // the instance's data folder on that disk

  explicit Folder(const std::string& standin) {
    char tmpl[] = "/tmp/db_setup_bench.XXXXXX";
    if (!mkdtemp(tmpl)) die("mkdtemp failed");
    dir = tmpl;
    server_disk = dir / "server";
    registry = dir / "registry.reg";
    write_file(registry, make_registry(1));
    instance_data = server_disk / kDriveFolder / "MSSQL$SHOP0001" / "Data";
    fs::create_directories(instance_data);
    write_file(dir / "dbinstall.ini",
               "[database]\r\ndatabasename=shopdb\r\ndataname=shop_data\r\nlogname=shop_log\r\n");
    Finished made = run(
        Child({standin, "--make-backup", (dir / "shopdb.dat").string(), "shop_data", "shop_log"}));
    if (made.status != 0) die("the stand-in could not write the backup");
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  // Empties the data folder for the next install.
  void clean_disk() const {
    for (const auto& entry : fs::directory_iterator(instance_data)) fs::remove(entry.path());
  }
};

// ---- 1. start to a filled window ----------------------------------------------------------

struct StartFigures {
  Series ms, rss_mb;
};

StartFigures bench_start(const std::string& exe, const Folder& folder, int runs) {
  StartFigures out;
  const fs::path report = folder.dir / "start.out";
  Child c({exe}, {"QT_QPA_PLATFORM=offscreen", "DB_SETUP_REGISTRY=" + folder.registry.string()},
          folder.dir, report);
  for (int i = -1; i < runs; ++i) {  // run -1 warms the caches up
    Finished f = run(c);
    std::string text = read_file(report);
    long long filled = 0;
    if (f.status != 0 || std::sscanf(text.c_str(), "filled %lld", &filled) != 1)
      die("bench_window_start failed with status " + std::to_string(f.status));
    if (i < 0) continue;
    out.ms.values.push_back((filled - f.spawned) / 1e6);
    out.rss_mb.values.push_back(f.max_rss_kb / 1024.0);
  }
  return out;
}

// ---- 2. a full install ---------------------------------------------------------------------

// The requests of one install as the stand-in logged them, without what
// differs from run to run (times, connection and session numbers).
std::vector<nlohmann::json> requests(const fs::path& log) {
  std::vector<nlohmann::json> out;
  std::istringstream lines(read_file(log));
  std::string line;
  while (std::getline(lines, line)) {
    nlohmann::json e = nlohmann::json::parse(line);
    const std::string type = e.value("type", "");
    nlohmann::json r{{"type", type}};
    if (type == "login") {
      for (const char* k : {"user", "database", "app", "tds_version", "packet_size", "ok"})
        r[k] = e[k];
    } else if (type == "batch" || type == "rpc") {
      r["statement"] = e["statement"];
      r["parameters"] = e.value("parameters", nlohmann::json::object());
      r["errors"] = e["outcome"]["errors"];
    } else if (type == "transaction") {
      r["request"] = e["request"];
    } else if (type != "prelogin") {
      continue;
    }
    out.push_back(r);
  }
  return out;
}

// The minimal client's plan: the installer's requests, step by step.
std::string plan_from(const std::vector<nlohmann::json>& reqs, int port) {
  std::string plan;
  bool connected = false;
  for (const nlohmann::json& r : reqs) {
    const std::string type = r["type"];
    if (type == "login") {
      if (connected) plan += "disconnect\n";
      const std::string user = r["user"];
      plan += "connect\t127.0.0.1\t" + std::to_string(port) + "\t" +
              r["database"].get<std::string>() + "\t" + user + "\t" +
              (user == "sa" ? kPassword : user) + "\n";
      connected = true;
    } else if (type == "batch") {
      plan += "exec\t" + r["statement"].get<std::string>() + "\n";
    } else if (type == "rpc") {
      // sp_executesql of one bound parameter: the driver wrote ? as @P1.
      std::string sql = r["statement"];
      const nlohmann::json& params = r["parameters"];
      if (params.size() != 1 || !params.contains("@P1"))
        die("unexpected RPC in the installer's log");
      std::size_t at = sql.find("@P1");
      sql.replace(at, 3, "?");
      plan += "query\t" + sql + "\t" + params["@P1"].get<std::string>() + "\n";
    } else if (type == "transaction") {
      die("the installer used transactions; the minimal client does not know them");
    }
  }
  if (connected) plan += "disconnect\n";
  return plan;
}

// What a run may stop at: the whole install, a first logon the server
// refuses (detection, the checks before it, the driver loaded), or start-up
// and exit alone (db_setup_cli --help; the minimal client with an empty plan).
enum class Stage { start, logon, install };

struct StageFigures {
  Series cli_cpu_ms, minimal_cpu_ms;  // the clients' own CPU time
};

struct InstallFigures {
  Series cli_ms, minimal_ms;  // wall time of the whole install, spawn to exit
  StageFigures stage[3];      // by Stage
  Series static_cpu_ms;       // the whole install, minimal client with its C++ runtime linked in
  std::size_t requests = 0;
};

InstallFigures bench_install(const std::string& standin, const std::string& cli,
                             const std::string& dynamic_minimal, const std::string& static_minimal,
                             const Folder& folder, int runs) {
  InstallFigures out;
  const fs::path plan = folder.dir / "plan.tsv";
  int serial = 0;

  // One run of either client up to `stage` on a fresh stand-in; returns the
  // time and the requests the stand-in saw.
  auto install = [&](bool installer, Stage stage, std::vector<nlohmann::json>* seen,
                     const std::string* other_minimal = nullptr) {
    const std::string& minimal = other_minimal ? *other_minimal : dynamic_minimal;
    folder.clean_disk();
    const fs::path log = folder.dir / ("server" + std::to_string(serial++) + ".jsonl");
    const std::string password = stage == Stage::logon ? "wrong" : kPassword;
    const int expected = stage == Stage::logon ? 1 : 0;
    Finished f;
    if (stage == Stage::start) {
      write_file(folder.dir / "plan-now.tsv", "");
      f = installer ? run(Child({cli, "--help"}, {}, folder.dir))
                    : run(Child({minimal, (folder.dir / "plan-now.tsv").string()}, {}, folder.dir));
    } else {
      Standin server(standin, folder.server_disk, log);
      const std::string port = std::to_string(server.port());
      if (installer) {
        f = run(Child(
            {cli, "--yes", "--server", "127.0.0.1," + port},
            {"DB_SETUP_REGISTRY=" + folder.registry.string(), "DB_SETUP_PASSWORD=" + password},
            folder.dir));
      } else {
        std::string text;
        if (stage == Stage::logon) {
          text = "connect\t127.0.0.1\t" + port + "\tmaster\tsa\t" + password + "\n";
        } else {
          // The plan names the port of the first stand-in; this one has another.
          text = read_file(plan);
          const std::string tag = "127.0.0.1\t";
          for (std::size_t at = text.find(tag); at != std::string::npos;
               at = text.find(tag, at + 1)) {
            std::size_t end = text.find('\t', at + tag.size());
            text.replace(at + tag.size(), end - at - tag.size(), port);
          }
        }
        write_file(folder.dir / "plan-now.tsv", text);
        f = run(Child({minimal, (folder.dir / "plan-now.tsv").string()}, {}, folder.dir));
      }
    }
    if (f.status != expected)
      die(std::string(installer ? "db_setup_cli" : "minimal_client") + " failed with status " +
          std::to_string(f.status));
    if (seen) *seen = requests(log);
    std::error_code ignored;
    fs::remove(log, ignored);
    return f;
  };

  // The installer's requests make the plan; the minimal client must send
  // exactly those, and the same refused logon.
  for (Stage stage : {Stage::install, Stage::logon}) {
    std::vector<nlohmann::json> by_installer, by_minimal;
    install(true, stage, &by_installer);
    if (stage == Stage::install) write_file(plan, plan_from(by_installer, 0));
    install(false, stage, &by_minimal);
    if (by_installer != by_minimal) {
      for (std::size_t i = 0; i < std::max(by_installer.size(), by_minimal.size()); ++i) {
        std::fprintf(stderr, "  installer: %s\n  minimal:   %s\n",
                     i < by_installer.size() ? by_installer[i].dump().c_str() : "-",
                     i < by_minimal.size() ? by_minimal[i].dump().c_str() : "-");
      }
      die("the minimal client's requests differ from the installer's");
    }
    if (stage == Stage::install) out.requests = by_installer.size();
  }

  // Alternate all of them so that drift of the machine hits each alike.
  for (int i = 0; i < runs; ++i) {
    for (Stage stage : {Stage::start, Stage::logon, Stage::install}) {
      StageFigures& figures = out.stage[static_cast<int>(stage)];
      Finished by_cli = install(true, stage, nullptr);
      figures.cli_cpu_ms.values.push_back(by_cli.cpu_ms);
      Finished by_min = install(false, stage, nullptr);
      figures.minimal_cpu_ms.values.push_back(by_min.cpu_ms);
      if (stage != Stage::install) continue;
      out.static_cpu_ms.values.push_back(install(false, stage, nullptr, &static_minimal).cpu_ms);
      out.cli_ms.values.push_back((by_cli.ended - by_cli.spawned) / 1e6);
      out.minimal_ms.values.push_back((by_min.ended - by_min.spawned) / 1e6);
    }
  }
  return out;
}

// ---- 3. detection by registry size --------------------------------------------------------

struct DetectFigures {
  int instances = 0;
  std::size_t reg_bytes = 0;
  Series core_ms, window_ms;
};

DetectFigures bench_detect(int count, const Folder& folder, int runs) {
  DetectFigures out;
  out.instances = count;
  const fs::path path = folder.dir / ("registry-" + std::to_string(count) + ".reg");
  const std::string reg = make_registry(count);
  write_file(path, reg);
  out.reg_bytes = reg.size();

  std::unique_ptr<dbsetup::FileSystem> files = dbsetup::make_system_files();
  dbsetup::IniProfileReader profile;
  auto no_client = [] { return std::unique_ptr<dbsetup::DbClient>(); };

  for (int i = -1; i < runs; ++i) {
    {
      const long long t0 = monotonic_ns();
      dbsetup::RegistryFile registry(path.string());
      dbsetup::Platform platform{&registry, files.get(), &profile, no_client};
      dbsetup::Settings gs;
      dbsetup::Transaction sqlca;
      dbsetup::MemoryUi ui;
      dbsetup::InstallForm form;
      dbsetup::SetupContext ctx{gs, sqlca, ui, form, platform};
      const int result = dbsetup::wf_check_dbsetup(ctx, "mss2000");
      const long long t1 = monotonic_ns();
      if (result != 1 || ui.instances().size() != static_cast<std::size_t>(count))
        die("detection failed with " + std::to_string(count) + " instances");
      if (i >= 0) out.core_ms.values.push_back((t1 - t0) / 1e6);
    }
    {
      dbsetup::Settings gs;
      dbsetup::Transaction sqlca;
      dbsetup::RegistryFile empty;
      dbsetup::Platform platform{&empty, files.get(), &profile, no_client};
      dbsetup::w_createdb window(gs, sqlca, platform);
      window.ui().message_box_hook = [](const std::string&, const std::string& text,
                                        dbsetup::MsgIcon, dbsetup::MsgButtons, int) -> int {
        die("the window's detection failed: " + text);
      };
      const long long t0 = monotonic_ns();
      dbsetup::RegistryFile registry(path.string());
      platform.registry = &registry;
      const bool opened = window.open("mss2000");
      const long long t1 = monotonic_ns();
      auto* list = window.findChild<QComboBox*>(QStringLiteral("ddplb_mss2000_instances"));
      if (!opened || !list || list->count() != count)
        die("the window's detection failed with " + std::to_string(count) + " instances");
      if (i >= 0) out.window_ms.values.push_back((t1 - t0) / 1e6);
      platform.registry = &empty;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 31;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
      runs = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--verbose") == 0)
      verbose = true;
    else
      die("usage: db_setup_bench [--runs N] [--verbose]");
  }
  if (runs < 3) die("--runs needs at least 3");

  const std::string load_before = load_average();
  const std::string standin = DB_SETUP_BENCH_STANDIN;
  Folder folder(standin);
  // Qt wants a private runtime folder; a machine without a login session
  // has none.
  if (!std::getenv("XDG_RUNTIME_DIR")) {
    fs::create_directory(folder.dir / "runtime");
    fs::permissions(folder.dir / "runtime", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (folder.dir / "runtime").c_str(), 1);
  }

  StartFigures start = bench_start(DB_SETUP_BENCH_WINDOW_START, folder, runs);
  InstallFigures install = bench_install(standin, DB_SETUP_BENCH_CLI, DB_SETUP_BENCH_MINIMAL_CLIENT,
                                         DB_SETUP_BENCH_MINIMAL_STATIC, folder, runs);

  // Detection runs in this process, in an offscreen Qt application.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (chdir(folder.dir.c_str()) != 0) die("cannot enter " + folder.dir.string());
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  QApplication qapp(qt_argc, qt_argv);
  std::vector<DetectFigures> detect;
  for (int count : {10, 100, 1000}) detect.push_back(bench_detect(count, folder, runs));

  std::printf("db_setup benchmarks: Release build, medians of %d runs (min .. max)\n\n", runs);
  std::printf("%-46s %10s %22s\n", "", "median", "range");
  auto row = [verbose](const char* what, const Series& s, const char* unit) {
    if (verbose) {
      std::fprintf(stderr, "%s:", what);
      for (double v : s.values) std::fprintf(stderr, " %.2f", v);
      std::fprintf(stderr, "\n");
    }
    char range[64];
    std::snprintf(range, sizeof range, "%.2f .. %.2f", s.min(), s.max());
    std::printf("%-46s %7.2f %-2s %22s\n", what, s.med(), unit, range);
  };
  row("start to filled window (offscreen)", start.ms, "ms");
  row("  peak resident memory", start.rss_mb, "MB");
  char label[96];
  std::snprintf(label, sizeof label, "full install, db_setup_cli (%zu requests)", install.requests);
  row(label, install.cli_ms, "ms");
  row("full install, minimal ODBC client", install.minimal_ms, "ms");
  std::printf("%-46s %7.3f\n", "installer overhead (ratio of medians)",
              install.cli_ms.med() / install.minimal_ms.med());
  std::printf("%-46s %7.3f\n", "  ratio of the fastest runs",
              install.cli_ms.min() / install.minimal_ms.min());
  const StageFigures& whole = install.stage[static_cast<int>(Stage::install)];
  row("  CPU time of db_setup_cli", whole.cli_cpu_ms, "ms");
  row("  CPU time of the minimal client", whole.minimal_cpu_ms, "ms");
  std::printf("%-46s %7.3f\n", "  ratio of the CPU medians",
              whole.cli_cpu_ms.med() / whole.minimal_cpu_ms.med());
  // db_setup_cli carries its C++ runtime; so does this build of the client.
  row("  CPU, minimal client, C++ runtime linked in", install.static_cpu_ms, "ms");
  std::printf("%-46s %7.3f\n\n", "  ratio of the CPU medians, like for like",
              whole.cli_cpu_ms.med() / install.static_cpu_ms.med());

  // Each stage as the median of the runs that end after it less the median
  // of those that end before it; the differences add up to the whole one.
  std::printf(
      "where the CPU time goes, by stage (median CPU time of the runs ending after\n"
      "the stage less that of the runs ending before it)\n");
  std::printf("%-46s %12s %10s %10s\n", "", "db_setup_cli", "minimal", "difference");
  const char* const stage_names[] = {
      "start-up and exit (--help; an empty plan)",
      "detection, driver, first logon (refused)",
      "the install's statements and second logon",
  };
  double before_cli = 0, before_min = 0;
  for (int s = 0; s < 3; ++s) {
    if (verbose) {
      for (const Series* series :
           {&install.stage[s].cli_cpu_ms, &install.stage[s].minimal_cpu_ms}) {
        std::fprintf(stderr, "CPU up to the end of \"%s\", %s:", stage_names[s],
                     series == &install.stage[s].cli_cpu_ms ? "db_setup_cli" : "minimal");
        for (double v : series->values) std::fprintf(stderr, " %.2f", v);
        std::fprintf(stderr, "\n");
      }
    }
    const double cli_ms = install.stage[s].cli_cpu_ms.med() - before_cli;
    const double min_ms = install.stage[s].minimal_cpu_ms.med() - before_min;
    std::printf("%-46s %9.2f ms %7.2f ms %+7.2f ms\n", stage_names[s], cli_ms, min_ms,
                cli_ms - min_ms);
    before_cli += cli_ms;
    before_min += min_ms;
  }
  std::printf("%-46s %9.2f ms %7.2f ms %+7.2f ms\n\n", "the whole install", before_cli, before_min,
              before_cli - before_min);

  std::printf(
      "detection by registry size (registry read + wf_check_dbsetup; \"marginal\": per\n"
      "instance added since the row above)\n");
  std::printf("%-9s %9s | %10s %9s %9s | %10s %9s %9s\n", "", "", "headless", "", "", "in window",
              "", "");
  std::printf("%-9s %9s | %10s %9s %9s | %10s %9s %9s\n", "instances", ".reg KB", "median",
              "per inst", "marginal", "median", "per inst", "marginal");
  for (std::size_t i = 0; i < detect.size(); ++i) {
    const DetectFigures& d = detect[i];
    auto per = [&](const Series& s) { return s.med() * 1000 / d.instances; };
    auto marginal = [&](const Series& s, const Series& before, int n_before) {
      return (s.med() - before.med()) * 1000 / (d.instances - n_before);
    };
    char core_marginal[32] = "", window_marginal[32] = "";
    if (i > 0) {
      std::snprintf(core_marginal, sizeof core_marginal, "%6.2f us",
                    marginal(d.core_ms, detect[i - 1].core_ms, detect[i - 1].instances));
      std::snprintf(window_marginal, sizeof window_marginal, "%6.2f us",
                    marginal(d.window_ms, detect[i - 1].window_ms, detect[i - 1].instances));
    }
    std::printf("%-9d %9.1f | %7.3f ms %6.2f us %9s | %7.3f ms %6.2f us %9s\n", d.instances,
                d.reg_bytes / 1024.0, d.core_ms.med(), per(d.core_ms), core_marginal,
                d.window_ms.med(), per(d.window_ms), window_marginal);
  }
  std::printf("\nload average before / after: %s / %s\n", load_before.c_str(),
              load_average().c_str());
  return 0;
}
