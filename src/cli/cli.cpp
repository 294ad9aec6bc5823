#include "cli/cli.h"

#include <cstdlib>
#include <iostream>

#include "app/application.h"
#include "app/context.h"
#include "detect/detect.h"
#include "install/edition.h"
#include "platform/codepage.h"
#include "platform/memory_ui.h"
#include "window/opening.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// windows.h's MessageBox macro would rename MemoryUi::Event::MessageBox.
#undef MessageBox
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace dbsetup::cli {

namespace {

// Message texts end their first line with "\r\n\n"; a terminal wants "\n".
std::string plain(std::string text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r') out.push_back(c);
  return out;
}

bool stdin_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

}  // namespace

std::string usage() {
  return R"(Usage: db_setup_cli [OPTIONS]

Installs the application database onto Microsoft SQL Server without a window.
It runs the same detection (registry, dbinstall.ini in the current folder) and
the same install procedure as db_setup; options replace what the window's
fields would hold.

Options:
  --edition mss2000|mss7  the server edition (default mss2000)
  --server ADDRESS        the server: host, host,port or host\instance
                          (default 127.0.0.1)
  --login NAME            the administrator login (default sa)
  --instance NAME         an entry of the instance list (SQL Server 2000
                          edition; default the first entry; the default
                          instance is "默认实例" or MSSQLSERVER)
  --data-folder DIR       the folder for the data and log files (default the
                          instance's data folder)
  --backup FILE           the backup file to restore (default
                          <current folder>\<databasename>.dat)
  --database NAME         the database name (mss7 edition only)
  --yes                   answer Yes to every question
  --no                    answer No to every question
  --help                  show this text

The administrator password is taken from the environment variable
DB_SETUP_PASSWORD, or asked on the terminal without echo; it is never taken
from the command line. Without --yes or --no a question is asked on the
terminal, and without a terminal it takes the default button.

Output: each status line on standard output; each message box as
"title: text" and the restore progress on standard error.

Exit status:
  0        installed (also when the mss7 database name was declined)
  1-16     the install failed; the procedure's code without its sign
  33-37    the detection failed; 32 plus its code without its sign
  64       the command line could not be used
)";
}

std::optional<std::string> parse(const std::vector<std::string>& args, Options& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::optional<std::string>& target) -> std::optional<std::string> {
      if (i + 1 >= args.size()) return a + " needs a value";
      target = args[++i];
      return std::nullopt;
    };
    std::optional<std::string> error;
    if (a == "--help" || a == "-h") {
      options.help = true;
    } else if (a == "--edition") {
      std::optional<std::string> e;
      error = value(e);
      if (!error) {
        if (*e != "mss2000" && *e != "mss7") return "--edition takes mss2000 or mss7";
        options.edition = *e;
      }
    } else if (a == "--server") {
      error = value(options.server);
    } else if (a == "--login") {
      error = value(options.login);
    } else if (a == "--instance") {
      error = value(options.instance);
    } else if (a == "--data-folder") {
      error = value(options.data_folder);
    } else if (a == "--backup") {
      error = value(options.backup);
    } else if (a == "--database") {
      error = value(options.database);
    } else if (a == "--yes" || a == "--no") {
      bool yes = a == "--yes";
      if (options.answer && *options.answer != yes) return "--yes and --no exclude each other";
      options.answer = yes;
    } else if (a == "--password" || a.rfind("--password=", 0) == 0) {
      return "the password is never taken from the command line: set DB_SETUP_PASSWORD";
    } else {
      return "unknown argument: " + a;
    }
    if (error) return error;
  }
  if (options.database && options.edition != "mss7")
    return "--database applies to the mss7 edition only";
  return std::nullopt;
}

Console system_console() {
  Console c;
  c.out = [](const std::string& line) { std::cout << line << std::endl; };
  c.err = [](const std::string& line) { std::cerr << line << std::endl; };
  c.ask = [](const std::string& question) -> std::optional<bool> {
    if (!stdin_is_terminal()) return std::nullopt;
    for (;;) {
      std::cerr << question << " [y/n] " << std::flush;
      std::string reply;
      if (!std::getline(std::cin, reply)) return std::nullopt;
      if (reply == "y" || reply == "Y" || reply == "yes" || reply == "是") return true;
      if (reply == "n" || reply == "N" || reply == "no" || reply == "否") return false;
    }
  };
  c.read_password = [](const std::string& prompt) -> std::optional<std::string> {
    if (!stdin_is_terminal()) return std::nullopt;
    std::cerr << prompt << std::flush;
    std::string password;
#ifdef _WIN32
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(in, &mode);
    SetConsoleMode(in, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    std::getline(std::cin, password);
    SetConsoleMode(in, mode);
#else
    termios old{};
    tcgetattr(STDIN_FILENO, &old);
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::getline(std::cin, password);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &old);
#endif
    std::cerr << std::endl;
    return password;
  };
  c.getenv = [](const char* name) -> std::optional<std::string> {
#ifdef _WIN32
    // getenv() answers in the ANSI code page; the wide environment holds
    // every character.
    std::u16string wide_name = utf8_to_utf16(name);
    const wchar_t* v = _wgetenv(reinterpret_cast<const wchar_t*>(wide_name.c_str()));
    if (!v) return std::nullopt;
    return utf16_to_utf8(reinterpret_cast<const char16_t*>(v));
#else
    const char* v = std::getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
#endif
  };
  return c;
}

int run(const Options& options, Platform& platform, Console& console) {
  Application app(platform);
  app.create();

  MemoryUi ui;
  WindowState state;
  SetupContext ctx{app.settings(), app.sqlca(), ui, state, platform};

  int last_progress = -1;
  ui.on_event = [&](const MemoryUi::Event& e) {
    switch (e.kind) {
      case MemoryUi::Event::Status:
        console.out(e.value);
        break;
      case MemoryUi::Event::MessageBox:
        if (e.buttons == MsgButtons::Ok) console.err(e.control + ": " + plain(e.value));
        break;
      case MemoryUi::Event::Progress:
        if (e.number >= 0 && e.number != last_progress)
          console.err("装载进度: " + std::to_string(e.number) + "%");
        last_progress = e.number;
        break;
      default:
        break;
    }
  };
  ui.answer = [&](const std::string& title, const std::string& text, int default_button) {
    console.err(title + ": " + plain(text));
    bool yes;
    if (options.answer) {
      yes = *options.answer;
    } else if (auto asked = console.ask ? console.ask("是否继续?") : std::nullopt) {
      yes = *asked;
    } else {
      yes = default_button == kYes;
    }
    console.err(yes ? "-> 是(Y)" : "-> 否(N)");
    return yes ? kYes : kNo;
  };

  int detection = 0;
  if (!w_createdb_open(ctx, options.edition, &detection)) {
    return detection < 0 ? kExitDetectionBase - detection : kExitDetectionBase + 1;
  }

  const Edition& ed = options.edition == "mss7" ? mss7_edition() : mss2000_edition();
  if (options.instance) {
    // Pick the entry by its text; the default instance answers to its
    // registry name as well.
    const auto entries = ui.instances();
    int chosen = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string& e = entries[i];
      if (e == *options.instance || (e == "默认实例" && (*options.instance == "MSSQLSERVER" ||
                                                         *options.instance == "mssqlserver"))) {
        chosen = static_cast<int>(i) + 1;
        break;
      }
    }
    if (chosen == 0) {
      console.err("unknown instance: " + *options.instance);
      return kExitUsage;
    }
    if (chosen != ui.selected_instance()) {
      ui.instance_select(chosen);
      ddplb_mss2000_instances_selectionchanged(ctx, chosen);
    }
  }
  if (options.server) ui.set_text(ed.field_servername, *options.server);
  if (options.login) ui.set_text(ed.field_userid, *options.login);
  if (options.data_folder) ui.set_text(ed.field_datapath, *options.data_folder);
  if (options.backup) ui.set_text(ed.field_backupfile, *options.backup);
  if (options.database) ui.set_text(ed.field_dbname, *options.database);

  std::optional<std::string> password =
      console.getenv ? console.getenv("DB_SETUP_PASSWORD") : std::nullopt;
  if (!password && console.read_password) password = console.read_password("管理员密码: ");
  ui.set_text(ed.field_password, password.value_or(""));

  const int code = cb_dbsetup_clicked(ctx);
  return code < 0 ? -code : kExitOk;
}

}  // namespace dbsetup::cli
