// The injection matrix in process: each hostile value through the window, the
// ODBC driver and the stand-in must arrive whole in exactly the statements of
// its run's path, or the run fail cleanly; the password never shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/memory_ui.h"
#include "app/transaction.h"
#include "detect/opening.h"
#include "e2e_injection/injection_matrix.h"
#include "install/install.h"
#include "platform/profile_ini.h"
#include "support/fake_platform.h"
#include "support/standin_process.h"
#include "support/temp_files.h"

namespace dbsetup::injection {
namespace {

using nlohmann::json;
using testing::expect_installed;
using testing::expected_statements;
using testing::FakeFiles;
using testing::FakeRegistry;
using testing::fill;
using testing::Inputs;
using testing::StandinServer;
using testing::Statement;
using testing::TempDir;

// The short failure text of each code a row can end with; -2, -3 and -4 are
// no codes but the database name, the data folder and the backup path refused
// before the logon.
const std::map<int, std::string> kShortText = {{0, "数据库安装成功!"},    {-1, "连接数据库失败!"},
                                               {-2, "数据库名称无效!"},   {-3, "数据文件目录无效!"},
                                               {-4, "备份文件路径无效!"}, {-8, "创建数据库失败!"},
                                               {-10, "装载数据失败!"}};

// Long texts in failure output: their two ends and their length.
std::string abbrev(const std::string& s) {
  if (s.size() <= 240) return s;
  return s.substr(0, 110) + " ...(" + std::to_string(s.size()) + " bytes)... " +
         s.substr(s.size() - 110);
}

// The whole list, each text exact: every value quoted inside its own literal
// or brackets, and the existence query's name passed as its parameter.
void expect_statements(const std::vector<json>& entries, const std::vector<Statement>& expected) {
  std::string sent;
  for (const auto& e : entries) sent += "  " + abbrev(e["statement"].get<std::string>()) + "\n";
  ASSERT_EQ(entries.size(), expected.size()) << "sent:\n" << sent;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("statement " + std::to_string(i + 1));
    const std::string text = entries[i]["statement"].get<std::string>();
    const std::string want = fill(expected[i]);
    EXPECT_TRUE(text == want) << "sent:     " << abbrev(text) << "\nexpected: " << abbrev(want);
    if (expected[i].parameter) {
      const json p1 = entries[i].value("parameters", json::object()).value("@P1", json());
      EXPECT_TRUE(p1 == *expected[i].parameter)
          << abbrev(p1.dump()) << " expected " << abbrev(*expected[i].parameter);
    }
  }
}

// The window opened on the program's folder with its dbinstall.ini and a
// registry with both editions; the stand-in starts once the settings are read.
struct Window {
  Window(bool seven, const std::string& databasename, const std::string& dataname,
         const std::string& logname)
      : seven(seven) {
    const std::string base = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\";
    registry.set_multi(base + "Microsoft SQL Server", "InstalledInstances", {"MSSQLSERVER"});
    registry.set_string(base + "MSSQLSERVER\\Setup", "SQLDataRoot", "C:\\MSSQL");
    registry.set_string(base + "MSSQLSERVER\\MSSQLServer", "DefaultDomain", "WG");
    files.cwd = dir.path();
    files.existing.insert(files.cwd + "\\dbinstall.ini");
    dir.write("dbinstall.ini", "[database]\r\ndatabasename=" + databasename +
                                   "\r\ndataname=" + dataname + "\r\nlogname=" + logname + "\r\n");
    ui.answer = [](const std::string&, const std::string&, int) { return kYes; };
    EXPECT_TRUE(w_createdb_open(ctx, seven ? "mss7" : "mss2000"));
  }

  const bool seven;
  TempDir dir;
  FakeRegistry registry;
  FakeFiles files;
  IniProfileReader profile;
  testing::FakeClock clock;
  Platform platform{&registry, &files, &profile, [] { return make_odbc_client(); }, &clock};
  MemoryUi ui;
  Settings gs;
  Transaction sqlca{make_odbc_client()};
  InstallForm form;
  SetupContext ctx{gs, sqlca, ui, form, platform};
  std::optional<StandinServer> server;
};

// The value of the row's field, and what the other fields hold.
struct Values {
  std::string dbname = "nuvex", dataname = "nuvex_Data", logname = "nuvex_Log";
  std::string login = "sa", password = "SECRET";
  std::string folder_leaf, backup_stem = "nuvex";
};

// Each field in the order of Field: its name in the test names, the value it
// sets and the text around the payload there.
const std::tuple<const char*, std::string Values::*, const char*, const char*> kFields[] = {
    {"DatabaseName", &Values::dbname, "nu", "vex"},
    {"DataFolder", &Values::folder_leaf, "da", "ta"},
    {"BackupFile", &Values::backup_stem, "ba", "ck"},
    {"DataFileName", &Values::dataname, "nuvex_", "Data"},
    {"LogFileName", &Values::logname, "nuvex_", "Log"},
    {"AdminLogin", &Values::login, "ad", "min"},
    {"AdminPassword", &Values::password, "pw", "sec"},
    {"ServerAddress", nullptr, "", ""}};

constexpr Outcome kInstalled{0, Stop::Done, 0};
// Refused by the ODBC client before anything reaches the server.
constexpr Outcome kNotSent{-1, Stop::Nothing, 0};

Row row(Field f, const Payload& p, bool seven, Outcome o = kInstalled) {
  return Row{std::string(std::get<0>(kFields[static_cast<int>(f)])) + "_" + p.name +
                 (seven ? "_7" : "_2000"),
             f, p, seven, o};
}

// Every payload of a field in one edition: each run ends as `usual` says but
// for the payloads `exceptions` name.
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
  // Over 128 characters is no SQL Server identifier, and no file name ('/',
  // a line break) will do: both are refused before the logon, but the 2000
  // name is the first line of dbinstall.ini.
  const Outcome bad_name{-1, Stop::Nothing, 0, -2};
  for (bool seven : {false, true})
    add(rows, Field::DatabaseName, seven, s,
        {{kLong.name, bad_name},
         {kSlashStar.name, bad_name},
         {kLineBreak.name, seven ? bad_name : kInstalled}});
  // A folder Windows cannot have is not there, and SQL Server 2000 has no
  // procedure to create it; a line break is no folder at all.
  const Outcome no_folder{-8, Stop::Folder, 2812};
  add(rows, Field::DataFolder, false, s,
      {{kLong.name, no_folder},
       {kSlashStar.name, no_folder},
       {kLineBreak.name, {-1, Stop::Nothing, 0, -3}}});
  // Nor is such a backup file: the backup device cannot be opened, which the
  // check finds before anything changes.
  const Outcome no_file{-10, Stop::HeaderList, 3201};
  for (bool seven : {false, true})
    add(rows, Field::BackupFile, seven, s,
        {{kLong.name, no_file},
         {kSlashStar.name, no_file},
         {kLineBreak.name, {-1, Stop::Nothing, 0, -4}}});
  // dbinstall.ini ends a value at a line break and cuts the long one at its
  // line length; the backup records what was read. LogicalName is
  // nvarchar(128): a longer name comes back cut, so the check misses it.
  for (Field f : {Field::DataFileName, Field::LogFileName})
    add(rows, f, false, s, {{kLong.name, {-10, Stop::FileList, 0}}});
  // The stand-in's backups hold one file a line: a line break in a logical
  // name makes it unreadable (3241); 7.0 takes the cut name, which the
  // restore does not find (3234).
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

// Whether a Windows folder or file can have this name: none of the characters
// Windows refuses, and short enough.
bool windows_can_name(const std::string& leaf) {
  return !leaf.empty() && leaf.size() <= 255 &&
         std::none_of(leaf.begin(), leaf.end(), [](unsigned char c) {
           return c < 0x20 || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos;
         });
}

// The part of a value a profile line can carry: up to the first line break.
std::string first_line(const std::string& s) { return s.substr(0, s.find_first_of("\r\n")); }

class Injection : public ::testing::TestWithParam<Row> {};

TEST_P(Injection, EachValueArrivesWholeOrTheRunFailsCleanly) {
  const Row& r = GetParam();
  Values v;
  const auto& [field_name, member, before, after] = kFields[static_cast<int>(r.field)];
  if (member) v.*member = embed(r.payload, before, after);

  // The 2000 edition reads the names from dbinstall.ini: what the file can
  // hold is what the procedure gets, and that must reach the server whole.
  Window w(r.seven, v.dbname, v.dataname, v.logname);
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

  // The 7.0 edition takes the logical names from the backup's file list,
  // whose LogicalName column holds 128 characters.
  auto cut = [&](const std::string& name) { return r.seven ? name.substr(0, 128) : name; };
  Inputs in{v.dbname, "", "", cut(v.dataname), cut(v.logname), r.seven};
  // An older database of that name is there to be copied and dropped, where
  // one can be.
  in.exists = r.field == Field::DatabaseName && in.dbname.size() <= 128;
  in.verify_stats = r.linux_2022;  // SQL Server 2000 reads no STATS for it
  in.policy = in.large_model = r.linux_2022;

  std::vector<std::string> args = {"--login", v.login + ":" + v.password + ":sysadmin"};
  if (in.exists) args.insert(args.end(), {"--database", in.dbname});
  if (r.linux_2022) args.insert(args.end(), {"--profile", "2022-linux"});
  StandinServer& server = w.server.emplace(args);

  // The folder and the backup are there when Windows could have them.
  in.folder = server.files_root();
  if (!v.folder_leaf.empty()) {
    in.folder += "/" + v.folder_leaf;
    if (windows_can_name(v.folder_leaf))
      std::filesystem::create_directory(in.folder);
    else
      in.create_folder = true;
  }
  if (in.exists) in.copy = in.folder + "\\" + in.dbname + "_20260309_180507.bak";
  const std::string backup =
      server.make_backup("nuvex", v.dataname, v.logname, r.linux_2022 ? "16.0" : "");
  in.backup = server.files_root() + "/" + v.backup_stem + ".bak";
  if (windows_can_name(v.backup_stem + ".bak"))
    std::filesystem::rename(backup, in.backup);
  else
    std::filesystem::remove(backup);

  // The payload goes after the port: in a host name it would be looked up in
  // DNS, and the address stays on the loopback this way.
  std::string address = server.address();
  if (r.field == Field::ServerAddress)
    address += r.payload.text.empty() ? std::string(kLongLength, 'x') : r.payload.text;
  PageFields& fields = w.form.page(r.seven ? Page::mss7 : Page::mss2000);
  fields.server = address;
  fields.login = v.login;
  fields.password = v.password;
  fields.data_folder = in.folder;
  fields.backup = in.backup;
  if (r.seven) fields.database = in.dbname;

  EXPECT_EQ(cb_dbsetup_clicked(w.ctx).code, r.outcome.code);
  const auto log = server.log();
  std::vector<json> entries;  // the requests that carry a statement
  for (const auto& e : log)
    if (e.contains("statement") && e["statement"].is_string()) entries.push_back(e);
  expect_statements(entries, expected_statements(in, r.outcome.stop));
  if (r.outcome.server_error != 0 && !entries.empty()) {
    const json errors = entries.back()["outcome"].value("errors", json::array());
    EXPECT_NE(std::find(errors.begin(), errors.end(), r.outcome.server_error), errors.end())
        << abbrev(entries.back()["outcome"].dump());
  }

  // Logons: the administrator as typed, then the install login; nothing else.
  const auto logins = server.logons();
  if (r.outcome.stop == Stop::Nothing) {
    EXPECT_TRUE(log.empty()) << abbrev(log.empty() ? "" : log.front().dump());
  } else {
    ASSERT_GE(logins.size(), 1u);
    EXPECT_TRUE(logins[0]["user"] == v.login) << abbrev(logins[0]["user"].dump());
    EXPECT_EQ(logins[0]["database"], "master");
    EXPECT_EQ(logins[0]["ok"], true);
    for (std::size_t i = 1; i < logins.size(); ++i) EXPECT_EQ(logins[i]["user"], "zq");
  }

  const std::string short_failure =
      kShortText.at(r.outcome.refused ? r.outcome.refused : r.outcome.code);
  const auto statuses = w.ui.statuses();
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), short_failure);
  EXPECT_FALSE(w.ui.busy());
  std::optional<std::string> box;  // the first OK box that is not the success message
  for (const auto& b : w.ui.message_boxes())
    if (!box && b.buttons == MsgButtons::Ok && b.value.rfind(kShortText.at(0), 0) != 0)
      box = b.value;
  if (r.outcome.code == 0) {
    EXPECT_FALSE(box.has_value()) << abbrev(box.value_or(""));
  } else {
    ASSERT_TRUE(box.has_value());
    const std::string head = short_failure + "\r\n\n错误信息:";
    ASSERT_EQ(box->rfind(head, 0), 0u) << abbrev(*box);
    EXPECT_GT(box->size(), head.size()) << "no server or driver text";
  }
  if (r.field == Field::AdminPassword) {
    std::string shown;  // all the window showed
    for (const auto& e : w.ui.events()) shown += e.control + "\n" + e.value + "\n";
    EXPECT_EQ(shown.find(v.password), std::string::npos) << "the password showed";
  }

  // The server holds the values as they were given.
  if (r.outcome.code == 0) expect_installed(server, in);
}

INSTANTIATE_TEST_SUITE_P(Matrix, Injection, ::testing::ValuesIn(matrix()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace dbsetup::injection
