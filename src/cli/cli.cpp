#include "cli/cli.h"

#include <cstdlib>
#include <iostream>

#include "app/application.h"
#include "app/context.h"
#include "app/memory_ui.h"
#include "cli/install_watch.h"
#include "cli/interrupt.h"
#include "detect/detect.h"
#include "detect/opening.h"
#include "install/install.h"
#include "platform/codepage.h"
#include "platform/run_settings.h"
#include "platform/server_address.h"
#include "platform/text_case.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// windows.h's MessageBox macro would rename MemoryUi::Event::MessageBox.
#undef MessageBox
#else
#include <unistd.h>
#endif

namespace dbsetup::cli {

namespace {

// A line that cannot be written (a closed pipe, a full disk) is lost; the
// stream stays usable for the next one, and the exit status still tells.
void write_line(std::ostream& stream, const std::string& line) {
  stream << line << '\n' << std::flush;
  if (!stream) stream.clear();
}

// The logon's text on one line.
std::string one_line(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!out.empty()) out += " / ";
    } else {
      out.push_back(c);
    }
  }
  while (out.size() >= 3 && out.compare(out.size() - 3, 3, " / ") == 0) out.resize(out.size() - 3);
  return out;
}

// The database client as the procedure's connection uses it, telling the
// front end how its logons went: the outcome of the first, for its own
// report, and that one has succeeded.
class LogonsTold final : public DbClient {
 public:
  LogonsTold(std::unique_ptr<DbClient> client, std::function<void(const DbResult&)> told)
      : client_(std::move(client)), told_(std::move(told)) {}
  DbResult connect(const DbLogon& logon) override {
    DbResult result = client_->connect(logon);
    told_(result);
    return result;
  }
  DbResult disconnect() override { return client_->disconnect(); }
  DbResult execute(const std::string& sql) override { return client_->execute(sql); }
  DbResult query_one(const std::string& sql, const std::string& param,
                     std::string& value) override {
    return client_->query_one(sql, param, value);
  }
  DbResult query_rows(const std::string& sql, DbTable& table) override {
    return client_->query_rows(sql, table);
  }
  std::string server_version() override { return client_->server_version(); }
  void set_message_handler(DbMessageHandler handler) override {
    client_->set_message_handler(std::move(handler));
  }
  void cancel() override { client_->cancel(); }

 private:
  std::unique_ptr<DbClient> client_;
  std::function<void(const DbResult&)> told_;
};

bool stdin_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(STDIN_FILENO) != 0;
#endif
}

// Picks the instance list's entry by its text; the default instance answers
// to its registry name as well. False when the list has no such entry.
bool choose_instance(const std::string& wanted, MemoryUi& ui, SetupContext& ctx) {
  const auto entries = ui.instances();
  int chosen = 0;
  for (std::size_t i = 0; i < entries.size() && chosen == 0; ++i)
    if (entries[i] == wanted || (entries[i] == kDefaultInstanceEntry &&
                                 equal_ascii_ignoring_case(wanted, kDefaultInstanceName)))
      chosen = static_cast<int>(i) + 1;
  if (chosen == 0) return false;
  if (chosen != ui.selected_instance()) {
    ui.instance_select(chosen);
    ddplb_mss2000_instances_selectionchanged(ctx, chosen);
  }
  return true;
}

// The options take the place of what the window's fields would hold.
void fill_form(const Options& options, PageFields& fields) {
  if (options.server) fields.server = *options.server;
  if (options.login) fields.login = *options.login;
  if (options.data_folder) fields.data_folder = *options.data_folder;
  if (options.backup) fields.backup = *options.backup;
  if (options.database) fields.database = *options.database;
}

// The window's effects as lines: status lines on standard output, message
// boxes and progress on standard error; questions answered by the option, the
// terminal or the default button.
void show_on_console(MemoryUi& ui, Console& console, InstallWatch& watch,
                     std::optional<bool> answer, const std::function<bool()>& interrupted) {
  auto last_progress = std::make_shared<int>(-1);
  ui.on_event = [&console, &watch, last_progress](const MemoryUi::Event& e) {
    switch (e.kind) {
      case MemoryUi::Event::Status:
        watch.status(e.value);
        console.out(e.value);
        break;
      case MemoryUi::Event::MessageBox:
        if (e.buttons == MsgButtons::Ok) console.err(e.control + ": " + e.value);
        break;
      case MemoryUi::Event::Progress:
        if (e.number >= 0 && e.number != *last_progress)
          console.err("装载进度: " + std::to_string(e.number) + "%");
        *last_progress = e.number;
        break;
      default:
        break;
    }
  };
  ui.answer = [&console, answer, interrupted](const std::string& title, const std::string& text,
                                              int default_button) {
    console.err(title + ": " + text);
    bool yes;
    if (answer) {
      yes = *answer;
    } else if (auto asked = console.ask ? console.ask("是否继续?") : std::nullopt) {
      yes = *asked;
    } else {
      yes = default_button == kYes;
    }
    // Nothing more is done once the operator has interrupted, also when the
    // interrupt ended the question.
    if (interrupted()) yes = false;
    console.err(yes ? "-> 是(Y)" : "-> 否(N)");
    return yes ? kYes : kNo;
  };
}

// The administrator's password: the environment's, none for Windows
// authentication as this user (an empty login), or asked on the terminal;
// nothing when there is no terminal to ask.
std::optional<std::string> administrator_password(const Options& options, Console& console) {
  if (options.login && options.login->empty()) return "";
  std::optional<std::string> password =
      console.getenv ? console.getenv("DB_SETUP_PASSWORD") : std::nullopt;
  if (!password && console.read_password) password = console.read_password("管理员密码: ");
  return password;
}

// What the install's end means for the exit status, with the lines a
// scheduler reads after it.
int exit_status(const InstallOutcome& outcome, InstallWatch& watch, Console& console,
                const std::function<void(int)>& settle) {
  const int code = outcome.code;
  // The copy of an overwritten database is what a scheduler must keep.
  if (code == 0 && !outcome.old_database_copy.empty())
    console.out("旧数据库已备份到：" + outcome.old_database_copy);
  const bool interrupted_install = watch.returned();
  const int status = code == 0 ? kExitOk : interrupted_install ? kExitInterrupted : -code;
  if (settle) settle(status);
  // An install that finished stays finished, whatever came afterwards.
  if (code == 0) return kExitOk;
  if (interrupted_install) {
    for (const std::string& line : watch.interrupt_note()) console.err(line);
    console.err("db_setup_cli: interrupted");
    return kExitInterrupted;
  }
  // Headless, the reason a first logon failed also gets a line of its own
  // that names the program, for the logs of schedulers.
  if (code == -1 && outcome.stage == InstallStage::logon && !outcome.server_text.empty())
    console.err("db_setup_cli: 连接数据库失败: " + one_line(outcome.server_text));
  return code < 0 ? -code : kExitOk;
}

}  // namespace

std::optional<std::string> decode_arguments(std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (is_valid_utf8(args[i])) continue;
    // A valid GBK sequence never decodes to U+FFFD.
    std::string decoded = cp936_to_utf8(args[i]);
    if (decoded.find("\xEF\xBF\xBD") != std::string::npos || !is_valid_utf8(decoded))
      return "argument " + std::to_string(i + 1) + " is neither UTF-8 nor code page 936 (GBK)";
    args[i] = std::move(decoded);
  }
  return std::nullopt;
}

std::string terminal_text(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n' || c == '\t' || (c >= 0x20 && c != 0x7F && c != 0xC2)) {
      out.push_back(static_cast<char>(c));
    } else if (c == 0xC2) {  // U+0080 to U+009F are C2 80 to C2 9F
      const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      if (next >= 0x80 && next <= 0x9F) {
        out += "\\u00";
        out += kHex[next >> 4];
        out += kHex[next & 15];
        ++i;
      } else {
        out.push_back(static_cast<char>(c));
      }
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string usage() {
  return R"(Usage: db_setup_cli [OPTIONS]

Installs the application database onto Microsoft SQL Server without a window.
It runs the same detection (registry, dbinstall.ini in the current folder) and
the same install procedure as db_setup; options replace what the window's
fields would hold.

Options:
  --edition mss2000|mss7  the server edition (default mss2000)
  --server ADDRESS        the server: host, host\instance, host,port or
                          host\instance,port, optionally after tcp:; a port
                          is 1 to 65535 (default 127.0.0.1)
  --login NAME            the administrator login (default sa); "" logs on
                          with Windows authentication as the signed-in user
                          (no password), DOMAIN\user as that Windows account
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
DB_SETUP_PASSWORD (set it to the empty string for an empty password), or
asked on the terminal without echo; it is never taken from the command line.
Without --yes or --no a question is asked on the terminal, and without a
terminal it takes the default button.

Ctrl-C (SIGINT) or SIGTERM before the first logon has succeeded ends the
program at once (status 130): nothing has changed on the server yet. After
it, the running statement is cancelled and the install stops through its
usual failure exit (message, status line, logoff), status 130; a server that
does not answer the cancel within 10 seconds is left (the program ends, which
closes the connection), after a message that says what may be left on the
server. Once the last statement has succeeded the install counts as done
(status 0). A second Ctrl-C or SIGTERM ends the program at once. A closed
terminal (SIGHUP) does not stop the install; what it would have shown is lost.

Arguments that are not UTF-8 are read as code page 936 (GBK); one that is
neither is refused. Control characters in what is printed (a server's error
text, say) are shown escaped, as \x1b.

Output: each status line on standard output; each message box as
"title: text" and the restore progress on standard error. When the first
logon fails, a line on standard error gives the server's or driver's reason.

Exit status:
  0        installed (also when the mss7 database name was declined)
  1-16     the install failed; the procedure's code without its sign
  33-37    the detection failed; 32 plus its code without its sign
  64       the command line could not be used, or no password was given
           and none could be asked for
  71       the standard descriptors could not be opened on /dev/null
  130      interrupted (SIGINT or SIGTERM)
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
      if (!error)
        if (std::string problem = server_address_problem(*options.server); !problem.empty())
          return "--server: " + problem;
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
  Interrupts& interrupts = Interrupts::install();
  Console c;
  c.out = [](const std::string& line) { write_line(std::cout, line); };
  c.err = [](const std::string& line) { write_line(std::cerr, line); };
  c.ask = [&interrupts](const std::string& question) -> std::optional<bool> {
    if (!stdin_is_terminal()) return std::nullopt;
    for (;;) {
      std::cerr << question << " [y/n] " << std::flush;
      std::optional<std::string> reply = interrupts.read_line();
      if (!reply) return std::nullopt;
      if (*reply == "y" || *reply == "Y" || *reply == "yes" || *reply == "是") return true;
      if (*reply == "n" || *reply == "N" || *reply == "no" || *reply == "否") return false;
    }
  };
  c.read_password = [&interrupts](const std::string& prompt) -> std::optional<std::string> {
    if (!stdin_is_terminal()) return std::nullopt;
    std::cerr << prompt << std::flush;
    if (!std::cerr) std::cerr.clear();
    std::optional<std::string> password;
    {
      Interrupts::QuietTerminal quiet;
      password = interrupts.read_line();
    }
    write_line(std::cerr, "");
    return password;
  };
  c.interrupted = [&interrupts] { return interrupts.requested(); };
  c.on_interrupt = [&interrupts](std::function<void()> cancel) {
    interrupts.on_interrupt(std::move(cancel));
  };
  c.end_now = [](int status) { Interrupts::end_now(status); };
  c.settle = [&interrupts](int status) { interrupts.settle(status); };
  c.getenv = environment_variable;
  return c;
}

int run(const Options& options, Platform& platform, Console& given) {
  InstallWatch* watching = nullptr;  // set below, before any logon
  Platform watched = platform;
  watched.make_db_client = [&]() -> std::unique_ptr<DbClient> {
    std::unique_ptr<DbClient> client =
        platform.make_db_client ? platform.make_db_client() : nullptr;
    if (!client) return nullptr;
    return std::make_unique<LogonsTold>(std::move(client), [&](const DbResult& result) {
      if (result.code == 0 && watching) watching->logged_on();
    });
  };
  Application app(watched);
  app.create();

  MemoryUi ui;
  InstallForm form;
  SetupContext ctx{app.settings(), app.sqlca(), ui, form, watched};

  InstallWatch watch({.out = given.out,
                      .err = given.err,
                      .cancel = [&app] { app.sqlca().cancel(); },
                      .end_now = given.end_now,
                      .old_database_copy = [&form] { return form.old_database_copy(); },
                      .appname = &app.settings().gs_appname});
  watching = &watch;
  // Every line goes out through the watch, safe for a terminal: texts of the
  // server and the driver are among them.
  Console console = given;
  console.out = [&watch](const std::string& line) { watch.out(line); };
  console.err = [&watch](const std::string& line) { watch.err(line); };

  const auto interrupted = [&] { return console.interrupted && console.interrupted(); };
  // Until run() returns, an interrupt is the watch's to judge.
  struct InterruptsWatched {
    Console& console;
    ~InterruptsWatched() {
      if (console.on_interrupt) console.on_interrupt(nullptr);
    }
  } interrupts_watched{given};
  if (given.on_interrupt) given.on_interrupt([&watch] { watch.on_interrupt(); });
  const auto interrupted_exit = [&] {
    console.err("db_setup_cli: interrupted");
    return kExitInterrupted;
  };

  show_on_console(ui, console, watch, options.answer, interrupted);

  int detection = 0;
  if (!w_createdb_open(ctx, options.edition, &detection)) {
    if (interrupted()) return interrupted_exit();
    return detection < 0 ? kExitDetectionBase - detection : kExitDetectionBase + 1;
  }

  PageFields& fields = form.page(options.edition == "mss7" ? Page::mss7 : Page::mss2000);
  if (options.instance && !choose_instance(*options.instance, ui, ctx)) {
    console.err("unknown instance: " + *options.instance);
    return kExitUsage;
  }
  fill_form(options, fields);

  const std::optional<std::string> password = administrator_password(options, console);
  if (interrupted()) return interrupted_exit();
  // Without a terminal (or at the end of its input) there is no password: an
  // empty one is never assumed, it has to be given as such.
  if (!password) {
    console.err(
        "db_setup_cli: no administrator password: set DB_SETUP_PASSWORD (to the empty string "
        "for an empty password) or run on a terminal");
    return kExitUsage;
  }
  fields.password = *password;

  watch.database(fields.database);
  return exit_status(cb_dbsetup_clicked(ctx), watch, console, given.settle);
}

}  // namespace dbsetup::cli
