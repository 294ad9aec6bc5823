// The injection matrix, in process: the window opened on dbinstall.ini and a
// registry, the fields filled as the operator leaves them, the install run
// through the ODBC driver against the SQL Server stand-in. For every row the
// stand-in's log must hold exactly the statements of that run's path, each
// value whole inside its own literal or brackets; logons must carry the login
// and password as typed, and the password must never show.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/transaction.h"
#include "e2e_injection/injection_matrix.h"
#include "e2e_injection/statement_text.h"
#include "platform/memory_ui.h"
#include "platform/profile_ini.h"
#include "support/fake_platform.h"
#include "support/standin_process.h"
#include "support/temp_files.h"
#include "window/opening.h"

namespace dbsetup::injection {
namespace {

using nlohmann::json;
using testing::FakeFiles;
using testing::FakeRegistry;
using testing::StandinServer;
using testing::TempDir;

constexpr const char* kConnectFailed = "连接数据库失败!";
constexpr const char* kErrorInfo = "\r\n\n错误信息:";

// The short failure text of each code a row can end with.
std::string short_text(int code) {
  switch (code) {
    case 0:
      return "数据库安装成功!";
    case -1:
      return kConnectFailed;
    case -2:  // not a code: the database name refused before the logon
      return "数据库名称无效!";
    case -8:
      return "创建数据库失败!";
    case -10:
      return "装载数据失败!";
  }
  return "unexpected code " + std::to_string(code);
}

// Long texts in failure output: their two ends and their length.
std::string abbrev(const std::string& s) {
  if (s.size() <= 240) return s;
  return s.substr(0, 110) + " ...(" + std::to_string(s.size()) + " bytes)... " +
         s.substr(s.size() - 110);
}

// ---- what the server must receive ------------------------------------------------------

// The values of one run as they reach the procedure.
struct Inputs {
  bool seven = false;
  bool exists = false;  // a database of that name is on the server
  bool linux_2022 = false;
  std::string dbname, folder, backup, dataname, logname;
};

Statement sql(std::string shape, std::vector<std::string> values = {}) {
  return Statement{std::move(shape), std::move(values), std::nullopt};
}

std::vector<Statement> expected_statements(const Inputs& in, Stop stop) {
  std::vector<Statement> out;
  if (stop == Stop::Nothing) return out;
  const std::string folder =
      in.folder.empty() || in.folder.back() != '\\' ? in.folder + "\\" : in.folder;
  const std::string data = folder + in.dbname + "_Data.MDF";
  const std::string log = folder + in.dbname + "_Log.LDF";

  out.push_back(sql("RESTORE HEADERONLY FROM DISK = N'{}'", {in.backup}));
  if (stop == Stop::HeaderList) return out;
  out.push_back(sql("RESTORE FILELISTONLY FROM DISK = N'{}'", {in.backup}));
  if (stop == Stop::FileList) return out;
  out.push_back(Statement{
      "SELECT name FROM sysdatabases WHERE LOWER ( name ) = LOWER ( @P1 )", {}, in.dbname});
  if (in.exists) out.push_back(sql("Drop DATABASE [{}]", {in.dbname}));
  out.push_back(sql("sp_droplogin zq"));
  out.push_back(sql("sp_addlogin '{}','{}'", {"zq", "zq"}));
  if (in.linux_2022)
    out.push_back(sql("CREATE LOGIN [{}] WITH PASSWORD = N'{}', CHECK_POLICY = OFF", {"zq", "zq"}));
  for (const char* role : {"sysadmin", "securityadmin", "serveradmin"})
    out.push_back(sql(std::string("sp_addsrvrolemember N'{}', ") + role, {"zq"}));
  for (const std::string size : {"SIZE = 1, ", ""}) {
    out.push_back(sql("CREATE DATABASE [{}]  ON PRIMARY (NAME = N'{}', FILENAME = N'{}' , " + size +
                          "FILEGROWTH = 10%) LOG ON (NAME = N'{}', FILENAME = N'{}' , " + size +
                          "FILEGROWTH = 10%)",
                      {in.dbname, in.dataname, data, in.logname, log}));
    if (!in.linux_2022) break;
  }
  if (stop == Stop::Create) return out;
  out.push_back(sql("exec sp_defaultdb N'{}', N'{}'", {"zq", in.dbname}));
  const std::string replace = in.seven ? "REPLACE ," : "REPLACE  ,";
  out.push_back(
      sql("RESTORE DATABASE [{}] FROM  DISK = N'{}' WITH  FILE = 1,  NOUNLOAD ,  STATS = "
          "10,  RECOVERY ,  " +
              replace + " MOVE N'{}' TO N'{}', MOVE N'{}' TO N'{}'",
          {in.dbname, in.backup, in.dataname, data, in.logname, log}));
  if (stop == Stop::Restore) return out;
  out.push_back(sql("sp_configure '{}',1", {"allow updates"}));
  out.push_back(sql("RECONFIGURE WITH OVERRIDE"));
  out.push_back(sql("sp_configure '{}',0", {"allow updates"}));
  out.push_back(sql("RECONFIGURE WITH OVERRIDE"));
  return out;
}

// The requests of the log that carry a statement.
std::vector<json> statement_entries(const std::vector<json>& log) {
  std::vector<json> out;
  for (const auto& e : log)
    if (e.contains("statement") && e["statement"].is_string()) out.push_back(e);
  return out;
}

std::vector<json> login_entries(const std::vector<json>& log) {
  std::vector<json> out;
  for (const auto& e : log)
    if (e.value("type", "") == "login") out.push_back(e);
  return out;
}

// The whole list, each text exact and each value read back whole from it.
void expect_statements(const std::vector<json>& entries, const std::vector<Statement>& expected) {
  std::string sent;
  for (const auto& e : entries) sent += "  " + abbrev(e["statement"].get<std::string>()) + "\n";
  ASSERT_EQ(entries.size(), expected.size()) << "sent:\n" << sent;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("statement " + std::to_string(i + 1));
    const std::string text = entries[i]["statement"].get<std::string>();
    const std::string want = fill(expected[i]);
    EXPECT_TRUE(text == want) << "sent:     " << abbrev(text) << "\nexpected: " << abbrev(want);
    auto back = read_back(text);
    ASSERT_TRUE(back.has_value()) << "unclosed literal or name: " << abbrev(text);
    EXPECT_EQ(back->shape, expected[i].shape);
    ASSERT_EQ(back->values.size(), expected[i].values.size());
    for (std::size_t v = 0; v < back->values.size(); ++v)
      EXPECT_TRUE(back->values[v] == expected[i].values[v])
          << "value " << v + 1 << ": " << abbrev(back->values[v])
          << "\nexpected: " << abbrev(expected[i].values[v]);
    if (expected[i].parameter) {
      const json params = entries[i].value("parameters", json::object());
      ASSERT_TRUE(params.contains("@P1")) << entries[i].dump().substr(0, 400);
      EXPECT_TRUE(params["@P1"] == *expected[i].parameter)
          << abbrev(params["@P1"].dump()) << " expected " << abbrev(*expected[i].parameter);
    }
  }
}

// ---- one window against one stand-in -----------------------------------------------------

struct Names {
  const char* dbname;
  const char* server;
  const char* login;
  const char* password;
  const char* folder;
  const char* backup;
};
constexpr Names k2000{"sle_dbname_2000",           "sle_mss2000_servername",
                      "sle_mss2000_userid",        "sle_mss2000_password",
                      "sle_mss2000data_setuppath", "sle_mss2000data_backupfile"};
constexpr Names k7{"sle_dbname",        "sle_mss7_servername",    "sle_mss7_userid",
                   "sle_mss7_password", "sle_mss7data_setuppath", "sle_mss7data_backupfile"};

// The program's folder with its dbinstall.ini, a registry with both editions
// installed, and the window opened on them. The stand-in starts once the
// settings are read, with what the row needs.
class Window {
 public:
  Window(bool seven, const std::string& databasename, const std::string& dataname,
         const std::string& logname)
      : seven_(seven), f_(seven ? k7 : k2000) {
    const std::string base = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\";
    registry_.set_multi(base + "Microsoft SQL Server", "InstalledInstances", {"MSSQLSERVER"});
    registry_.set_string(base + "MSSQLSERVER\\Setup", "SQLDataRoot", "C:\\MSSQL");
    registry_.set_string(base + "MSSQLSERVER\\MSSQLServer", "DefaultDomain", "WG");
    files_.cwd = dir_.path();
    files_.existing.insert(files_.cwd + "\\dbinstall.ini");
    dir_.write("dbinstall.ini", "[database]\r\ndatabasename=" + databasename +
                                    "\r\ndataname=" + dataname + "\r\nlogname=" + logname + "\r\n");
    ui.answer = [](const std::string&, const std::string&, int) { return kYes; };
    opened = w_createdb_open(ctx, seven ? "mss7" : "mss2000");
  }

  void start(std::vector<std::string> args) { server.emplace(std::move(args)); }

  void set(const char* field, const std::string& value) { ui.set_text(field, value); }
  const Names& fields() const { return f_; }
  bool seven() const { return seven_; }
  int install() { return cb_dbsetup_clicked(ctx); }

  // Everything the window showed, but the password field the test typed into.
  std::string shown() const {
    std::string all;
    for (const auto& e : ui.events()) {
      if (e.kind == MemoryUi::Event::Text && e.control == f_.password) continue;
      all += e.control + "\n" + e.value + "\n";
    }
    return all;
  }
  // The failure box: the one box with only an OK button that is not the
  // success message.
  std::optional<std::string> failure_box() const {
    for (const auto& box : ui.message_boxes())
      if (box.buttons == MsgButtons::Ok && box.value != "数据库安装成功!") return box.value;
    return std::nullopt;
  }

 private:
  bool seven_;
  Names f_;
  TempDir dir_;
  FakeRegistry registry_;
  FakeFiles files_;
  IniProfileReader profile_;
  Platform platform_{&registry_, &files_, &profile_, [] { return make_odbc_client(); }};

 public:
  MemoryUi ui;
  Settings gs;
  Transaction sqlca{make_odbc_client()};
  WindowState state;
  SetupContext ctx{gs, sqlca, ui, state, platform_};
  bool opened = false;
  std::optional<StandinServer> server;
};

// ---- the rows ----------------------------------------------------------------------------

const char* field_name(Field f) {
  switch (f) {
    case Field::DatabaseName:
      return "DatabaseName";
    case Field::DataFolder:
      return "DataFolder";
    case Field::BackupFile:
      return "BackupFile";
    case Field::DataFileName:
      return "DataFileName";
    case Field::LogFileName:
      return "LogFileName";
    case Field::AdminLogin:
      return "AdminLogin";
    case Field::AdminPassword:
      return "AdminPassword";
    case Field::ServerAddress:
      return "ServerAddress";
  }
  return "?";
}

constexpr Outcome kInstalled{0, Stop::Done, 0};
// Refused by the ODBC client before anything reaches the server.
constexpr Outcome kNotSent{-1, Stop::Nothing, 0};

Row row(Field f, const Payload& p, bool seven, Outcome o = kInstalled) {
  return Row{std::string(field_name(f)) + "_" + p.name + (seven ? "_7" : "_2000"), f, p, seven, o};
}

// Every payload of a field in one edition: each run installs (or ends as
// `usual` says), but for the exceptions, which name the payloads whose runs
// cannot and where they must stop instead.
void add(std::vector<Row>& rows, Field f, bool seven, const std::vector<Payload>& payloads,
         std::vector<std::pair<std::string, Outcome>> exceptions = {}, Outcome usual = kInstalled) {
  for (const Payload& p : payloads) {
    Outcome o = usual;
    for (const auto& [name, outcome] : exceptions)
      if (name == p.name) o = outcome;
    rows.push_back(row(f, p, seven, o));
  }
}

std::vector<Row> matrix() {
  std::vector<Row> rows;
  const auto& s = kStatementPayloads;
  const auto& c = kConnectionPayloads;
  // A name of more than 128 characters is no SQL Server identifier (103). A
  // name that is no file name ('/', a line break) is refused before the
  // logon. (dbinstall.ini cannot carry a line break: the 2000 name is its
  // first line.)
  const Outcome bad_name{-1, Stop::Nothing, 0, true};
  for (bool seven : {false, true})
    add(rows, Field::DatabaseName, seven, s,
        {{kLong.name, {-8, Stop::Create, 103}},
         {kSlashStar.name, bad_name},
         {kLineBreak.name, seven ? bad_name : kInstalled}});
  // A folder Windows cannot have is not there: the directory lookup fails.
  const Outcome no_folder{-8, Stop::Create, 5133};
  add(rows, Field::DataFolder, false, s,
      {{kLong.name, no_folder}, {kSlashStar.name, no_folder}, {kLineBreak.name, no_folder}});
  // Nor is such a backup file: the backup device cannot be opened, which the
  // check finds before anything changes.
  const Outcome no_file{-10, Stop::HeaderList, 3201};
  for (bool seven : {false, true})
    add(rows, Field::BackupFile, seven, s,
        {{kLong.name, no_file}, {kSlashStar.name, no_file}, {kLineBreak.name, no_file}});
  // From dbinstall.ini: a line break ends the value, the long one is cut at
  // the reader's line length; what is read arrives whole, and the backup
  // records those names. The file list's LogicalName is nvarchar(128), as
  // SQL Server's: a longer name comes back cut, and the check does not find
  // the name of dbinstall.ini among the backup's.
  for (Field f : {Field::DataFileName, Field::LogFileName})
    add(rows, f, false, s, {{kLong.name, {-10, Stop::FileList, 0}}});
  // The stand-in's backups are text, one file a line: a logical name with a
  // line break makes the backup unreadable (3241). The 7.0 edition takes the
  // cut name, which the restore does not find (3234).
  for (Field f : {Field::DataFileName, Field::LogFileName})
    add(rows, f, true, s,
        {{kLineBreak.name, {-10, Stop::HeaderList, 3241}},
         {kLong.name, {-10, Stop::Restore, 3234}}});
  // SQL Server takes no login or password over 128 characters, and FreeTDS
  // cannot take "};" in either.
  for (Field f : {Field::AdminLogin, Field::AdminPassword})
    add(rows, f, false, c, {{kBrace.name, kNotSent}, {kLong.name, kNotSent}});
  // No payload makes an address: the driver fails before the stand-in hears
  // anything. The 7.0 edition shows the driver's text.
  add(rows, Field::ServerAddress, true, c, {}, kNotSent);
  // Today's server on Linux: the statement payload in the values that reach
  // the backup check and the statements around the install login's fallback.
  for (Field f : {Field::DatabaseName, Field::BackupFile}) {
    for (bool seven : {false, true}) {
      rows.push_back(row(f, kStatement, seven));
      rows.back().linux_2022 = true;
      rows.back().name += "_Linux2022";
    }
  }
  return rows;
}

// The value of the row's field, and what the other fields hold.
struct Values {
  std::string dbname = "nuvex", dataname = "nuvex_Data", logname = "nuvex_Log";
  std::string login = "sa", password = "SECRET";
  std::string folder_leaf, backup_stem = "nuvex";
};

Values values_for(const Row& r) {
  Values v;
  const Payload& p = r.payload;
  switch (r.field) {
    case Field::DatabaseName:
      v.dbname = embed(p, "nu", "vex");
      break;
    case Field::DataFolder:
      v.folder_leaf = embed(p, "da", "ta");
      break;
    case Field::BackupFile:
      v.backup_stem = embed(p, "ba", "ck");
      break;
    case Field::DataFileName:
      v.dataname = embed(p, "nuvex_", "Data");
      break;
    case Field::LogFileName:
      v.logname = embed(p, "nuvex_", "Log");
      break;
    case Field::AdminLogin:
      v.login = embed(p, "ad", "min");
      break;
    case Field::AdminPassword:
      v.password = embed(p, "pw", "sec");
      break;
    case Field::ServerAddress:
      break;
  }
  return v;
}

// Whether a Windows folder or file can have this name: none of the characters
// Windows refuses, and short enough.
bool windows_can_name(const std::string& leaf) {
  if (leaf.empty() || leaf.size() > 255) return false;
  for (unsigned char c : leaf)
    if (c < 0x20 ||
        std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  return true;
}

// The part of a value a profile line can carry: up to the first line break.
std::string first_line(const std::string& s) { return s.substr(0, s.find_first_of("\r\n")); }

class Injection : public ::testing::TestWithParam<Row> {};

TEST_P(Injection, EachValueArrivesWholeOrTheRunFailsCleanly) {
  const Row& r = GetParam();
  Values v = values_for(r);

  // The SQL Server 2000 edition reads the database name and the logical file
  // names from dbinstall.ini; what the file can hold is what the procedure
  // gets, and that must reach the server whole.
  Window w(r.seven, v.dbname, v.dataname, v.logname);
  ASSERT_TRUE(w.opened);
  if (!r.seven) {
    for (auto [read, written] : {std::pair{&w.gs.gs_database_name, &v.dbname},
                                 std::pair{&w.gs.gs_database_data, &v.dataname},
                                 std::pair{&w.gs.gs_database_log, &v.logname}}) {
      if (written->size() >= kLongLength) {  // longer than a profile line
        EXPECT_EQ(written->rfind(*read, 0), 0u) << "not a prefix: " << abbrev(*read);
        EXPECT_GT(read->size(), 128u);
      } else {
        EXPECT_EQ(*read, first_line(*written));
      }
      *written = *read;
    }
  }

  Inputs in;
  in.seven = r.seven;
  in.dbname = v.dbname;
  // The 7.0 edition takes the logical names from the backup's file list,
  // whose LogicalName column holds 128 characters.
  in.dataname = r.seven ? v.dataname.substr(0, 128) : v.dataname;
  in.logname = r.seven ? v.logname.substr(0, 128) : v.logname;
  // An older database of that name is there to be dropped, where one can be.
  in.exists = r.field == Field::DatabaseName && in.dbname.size() <= 128;
  in.linux_2022 = r.linux_2022;

  std::vector<std::string> args = {"--login", v.login + ":" + v.password + ":sysadmin"};
  if (in.exists) args.insert(args.end(), {"--database", in.dbname});
  if (r.linux_2022) args.insert(args.end(), {"--profile", "2022-linux"});
  w.start(args);
  StandinServer& server = *w.server;

  // The folder and the backup are there when Windows could have them.
  in.folder = server.files_root();
  if (!v.folder_leaf.empty()) {
    in.folder += "/" + v.folder_leaf;
    if (windows_can_name(v.folder_leaf)) std::filesystem::create_directory(in.folder);
  }
  const std::string backup =
      server.make_backup("nuvex", v.dataname, v.logname, r.linux_2022 ? "16.0" : "");
  in.backup = server.files_root() + "/" + v.backup_stem + ".bak";
  if (windows_can_name(v.backup_stem + ".bak"))
    std::filesystem::rename(backup, in.backup);
  else
    std::filesystem::remove(backup);

  const Names& f = w.fields();
  // The payload goes after the port: in a host name it would be looked up in
  // DNS, and the address stays on the loopback this way.
  std::string address = server.address();
  if (r.field == Field::ServerAddress)
    address += r.payload.text.empty() ? std::string(kLongLength, 'x') : r.payload.text;
  w.set(f.server, address);
  w.set(f.login, v.login);
  w.set(f.password, v.password);
  w.set(f.folder, in.folder);
  w.set(f.backup, in.backup);
  if (r.seven) w.set(f.dbname, in.dbname);

  const int code = w.install();
  const auto log = server.log();

  EXPECT_EQ(code, r.outcome.code);
  const auto entries = statement_entries(log);
  expect_statements(entries, expected_statements(in, r.outcome.stop));
  if (r.outcome.server_error != 0 && !entries.empty()) {
    const json errors = entries.back()["outcome"].value("errors", json::array());
    EXPECT_NE(std::find(errors.begin(), errors.end(), r.outcome.server_error), errors.end())
        << abbrev(entries.back()["outcome"].dump());
  }

  // Logons: the administrator as typed, then the install login; nothing else.
  const auto logins = login_entries(log);
  if (r.outcome.stop == Stop::Nothing) {
    EXPECT_TRUE(log.empty()) << abbrev(log.empty() ? "" : log.front().dump());
  } else {
    ASSERT_GE(logins.size(), 1u);
    EXPECT_TRUE(logins[0]["user"] == v.login) << abbrev(logins[0]["user"].dump());
    EXPECT_EQ(logins[0]["database"], "master");
    EXPECT_EQ(logins[0]["ok"], true);
    for (std::size_t i = 1; i < logins.size(); ++i) EXPECT_EQ(logins[i]["user"], "zq");
  }

  // What the operator sees.
  const std::string short_failure = short_text(r.outcome.bad_name ? -2 : r.outcome.code);
  const auto statuses = w.ui.statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), short_failure);
  EXPECT_FALSE(w.ui.busy());
  const auto box = w.failure_box();
  if (r.outcome.code == 0 || (r.outcome.code == -1 && !r.seven && !r.outcome.bad_name)) {
    EXPECT_FALSE(box.has_value()) << abbrev(box.value_or(""));
  } else {
    ASSERT_TRUE(box.has_value());
    const std::string head = short_failure + kErrorInfo;
    ASSERT_EQ(box->rfind(head, 0), 0u) << abbrev(*box);
    EXPECT_GT(box->size(), head.size()) << "no server or driver text";
  }
  if (r.field == Field::AdminPassword) {
    EXPECT_EQ(w.shown().find(v.password), std::string::npos) << "the password showed";
  }

  if (r.outcome.code == 0) {
    // The server holds the values as they were given.
    const json state = server.state();
    json db;
    for (const auto& d : state["databases"])
      if (d["name"] == in.dbname) db = d;
    ASSERT_TRUE(db.is_object()) << "no database " << abbrev(in.dbname);
    EXPECT_EQ(db["status"], "ONLINE");
    const std::string folder = in.folder + "\\";
    ASSERT_EQ(db["files"].size(), 2u);
    EXPECT_TRUE(db["files"][0]["logical"] == in.dataname);
    EXPECT_TRUE(db["files"][0]["physical"] == folder + in.dbname + "_Data.MDF");
    EXPECT_TRUE(db["files"][1]["logical"] == in.logname);
    EXPECT_TRUE(db["files"][1]["physical"] == folder + in.dbname + "_Log.LDF");
    int databases_named_master = 0;
    for (const auto& d : state["databases"]) databases_named_master += d["name"] == "master";
    EXPECT_EQ(databases_named_master, 1);
  }
}

// The stand-in's administrator has the typed password cut short where the
// payload begins (the long one: after 128 characters), and so has the login
// the brace payload names: a driver that cut the password, or read a second
// login out of it, would get in.
class WrongPassword : public ::testing::TestWithParam<Payload> {};

TEST_P(WrongPassword, FailsAsAPasswordAndNeverShows) {
  const Payload& p = GetParam();
  const std::string typed = embed(p, "pw", "sec");
  const std::string cut = p.text.empty() ? typed.substr(0, 128) : "pw";

  Window w(true, "nuvex", "nuvex_Data", "nuvex_Log");
  ASSERT_TRUE(w.opened);
  w.start({"--login", "sa:" + cut + ":sysadmin", "--login", "zq:" + cut + ":sysadmin"});
  StandinServer& server = *w.server;
  const Names& f = w.fields();
  w.set(f.server, server.address());
  w.set(f.login, "sa");
  w.set(f.password, typed);
  w.set(f.folder, server.files_root());
  w.set(f.backup, server.make_backup("nuvex", "nuvex_Data", "nuvex_Log"));
  w.set(f.dbname, "nuvex");

  EXPECT_EQ(w.install(), -1);
  const auto log = server.log();
  EXPECT_TRUE(statement_entries(log).empty());
  const auto logins = login_entries(log);
  const auto box = w.failure_box();
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->rfind(std::string(kConnectFailed) + kErrorInfo, 0), 0u) << abbrev(*box);
  if (p.name == std::string(kBrace.name) || p.text.empty()) {
    // Refused before anything is sent, with the reason.
    EXPECT_TRUE(log.empty()) << log.front().dump();
    EXPECT_NE(box->find(p.text.empty() ? "128 characters" : "\"};\""), std::string::npos) << *box;
  } else {
    ASSERT_GE(logins.size(), 1u);
    for (const auto& l : logins) {
      EXPECT_EQ(l["user"], "sa");
      EXPECT_EQ(l["ok"], false);
      EXPECT_EQ(l["errors"], json({18456}));
    }
    EXPECT_NE(box->find("Login failed for user 'sa'."), std::string::npos) << abbrev(*box);
  }
  EXPECT_EQ(w.shown().find(typed), std::string::npos) << "the password showed";
  EXPECT_EQ(w.ui.statuses().back(), kConnectFailed);
}

INSTANTIATE_TEST_SUITE_P(Matrix, WrongPassword, ::testing::ValuesIn(kConnectionPayloads),
                         [](const ::testing::TestParamInfo<Payload>& info) {
                           return std::string(info.param.name);
                         });

INSTANTIATE_TEST_SUITE_P(Matrix, Injection, ::testing::ValuesIn(matrix()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace dbsetup::injection
