#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>

#include "executor_harness.h"

namespace fs = std::filesystem;

namespace standin {
namespace {

using harness::Event;
using harness::RecordingSink;

class ExecutorTest : public harness::ExecutorHarness {
 protected:
  void SetUp() override {
    ExecutorHarness::SetUp();
    make_state();
  }

  // A fresh server of that kind (none: SQL Server 2000), options adjusted.
  void make_state(const std::string& profile = {},
                  const std::function<void(StateOptions&)>& adjust = {}) {
    StateOptions o;
    if (!profile.empty()) o.profile = *profile_named(profile);
    if (adjust) adjust(o);
    start(o);
    state_->add_login("joe", "pw");
    state_->add_login("sec", "pw", {"securityadmin"});
    state_->add_login("srv", "pw", {"serveradmin"});
  }

  // The installer's existence query, as an RPC.
  RecordingSink existence(const std::string& name) {
    Session s{.spid = 99, .login = "sa", .prepared = {}};
    RecordingSink sink;
    Outcome out;
    RpcRequest req{
        .proc_name = "sp_executesql",
        .proc_id = 10,
        .params = {{"", 0, "ntext", "SELECT name FROM sysdatabases WHERE LOWER ( name ) = @P1"},
                   {"", 0, "ntext", "@P1 nvarchar(40)"},
                   {"@P1", 0, "nvarchar", name}}};
    executor_->rpc(s, req, sink, out);
    return sink;
  }

  std::string restore_sql(const std::string& name, const std::string& backup,
                          const std::string& dir, const std::string& data = "tavox_data") {
    return "RESTORE DATABASE [" + name + "] FROM  DISK = N'" + backup +
           "' WITH  FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'" + data +
           "' TO N'" + dir + name + "_Data.MDF', MOVE N'tavox_log' TO N'" + dir + name +
           "_Log.LDF'";
  }

  // A statement and what it must get: the errors in order and, when given,
  // the text and class of its first message.
  struct Step {
    std::string sql;
    std::vector<int> errors;
    std::string text = {};
    std::string login = "sa";
    int cls = -1;
  };
  void play(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      SCOPED_TRACE(step.login + ": " + step.sql);
      auto sink = run(step.sql, step.login);
      EXPECT_EQ(sink.errors(), step.errors);
      EXPECT_EQ(step.text.empty() ? "" : sink.events.at(0).message.text, step.text);
      EXPECT_EQ(step.cls < 0 ? -1 : sink.events.at(0).message.cls, step.cls);
    }
  }

  // tavox's backup in the root, made by a server of that version when one is given.
  std::string backup(const std::string& version = {}) {
    Backup b = make_backup("tavox", "tavox_data", "tavox_log");
    EXPECT_TRUE(version.empty() || set_backup_version(b, version));
    EXPECT_TRUE(write_backup_file(root_ + "/tavox.bak", b));
    return root_ + "/tavox.bak";
  }

  // The data folder as the installer writes it: backslashes, one doubled.
  std::string windows_dir() const { return root_ + "\\data\\\\"; }
};

TEST_F(ExecutorTest, LoginChecksNamePasswordAndDatabase) {
  EXPECT_TRUE(executor_->login("sa", "SECRET", "master").ok);
  EXPECT_TRUE(executor_->login("SA", "SECRET", "").ok);  // names compare without case
  EXPECT_FALSE(executor_->login("nobody", "", "master").ok);
  auto bad = executor_->login("sa", "secret", "master");
  EXPECT_FALSE(bad.ok);
  ASSERT_EQ(bad.messages.size(), 1u);
  EXPECT_EQ(std::tie(bad.messages[0].number, bad.messages[0].cls, bad.messages[0].text),
            std::make_tuple(18456, uint8_t{14}, std::string("Login failed for user 'sa'.")));
  auto nodb = executor_->login("sa", "SECRET", "gone");
  ASSERT_EQ(nodb.messages.size(), 2u);
  EXPECT_EQ(std::tie(nodb.messages[0].number, nodb.messages[1].number),
            std::make_tuple(4060, 18456));
}

TEST_F(ExecutorTest, ExistenceQueryFollowsTheCollation) {
  run(create_sql("Tavox", windows_dir()));
  const std::vector<Row> tavox = {{std::string("Tavox")}};  // the stored name comes back
  EXPECT_EQ(existence("tavox").rows(), tavox);
  EXPECT_EQ(existence("TAVOX").rows(), tavox);  // case-insensitive server
  EXPECT_TRUE(existence("other").rows().empty());
  EXPECT_EQ(existence("tavox").last().token, kTokDoneProc);

  make_state({}, [](StateOptions& o) { o.case_sensitive = true; });
  fs::create_directories(root_ + "/data/cs");  // the first state's files are still there
  run(create_sql("Tavox", windows_dir() + "cs\\"));
  EXPECT_EQ(existence("tavox").rows(), tavox);  // LOWER(name) is compared exactly
  EXPECT_TRUE(existence("TAVOX").rows().empty());
  EXPECT_TRUE(existence("Tavox").rows().empty());
  // The literal form of the query answers the same way.
  EXPECT_EQ(run("select name from sysdatabases where lower(name) = N'tavox'").rows(), tavox);
}

TEST_F(ExecutorTest, CreateDatabaseMakesFilesAndRefusesWhatSqlServerRefuses) {
  EXPECT_TRUE(run(create_sql("tavox", windows_dir())).errors().empty());
  EXPECT_TRUE(fs::exists(root_ + "/data/tavox_Data.MDF"));
  EXPECT_TRUE(fs::exists(root_ + "/data/tavox_Log.LDF"));
  EXPECT_EQ(state_->find_database("tavox")->owner, "sa");
  play({
      {create_sql("TAVOX", windows_dir() + "other\\"),
       {1801},
       "Database 'TAVOX' already exists. Choose a different database name."},
      // Same files, new name: the file exists.
      {create_sql("tavox", windows_dir()).replace(0, 23, "CREATE DATABASE [other]"),
       {5170, 1802},
       "Cannot create file '" + windows_dir() +
           "tavox_Data.MDF' because it already exists. Change the file path or the file name, "
           "and retry the operation."},
      {create_sql("x", windows_dir() + "missing\\"), {5133, 1802}},  // a missing folder
      {create_sql("y", "C:\\Program Files\\data\\"), {}},  // outside the root: only recorded
      // ... and compared as Windows paths are, without letter case.
      {"CREATE DATABASE [y2] ON PRIMARY (NAME = a, FILENAME = N'c:\\program "
       "files\\DATA\\y_Data.MDF')",
       {5170, 1802}},
      {create_sql("nope", windows_dir()), {262}, "", "joe"},
  });
  EXPECT_FALSE(state_->under_root(root_ + "/../elsewhere.mdf"));
}

TEST_F(ExecutorTest, DropDatabase) {
  run(create_sql("tavox", windows_dir()));
  play({{"Drop DATABASE nosuch",
         {3701},
         "Cannot drop the database 'nosuch', because it does not exist or you do not have "
         "permission.",
         "sa",
         11},
        {"Drop DATABASE tavox", {3701}, "", "joe"},  // without permission it looks the same
        {"Drop DATABASE master", {3708}},
        {"Drop DATABASE ", {102}}});  // the empty name of the installer's edge case
  state_->marked_in_use.insert("TAVOX");
  play({{"Drop DATABASE tavox", {3702}}});
  state_->marked_in_use.clear();

  // (That the database and its files are gone: the install over an existing
  // one in tests/e2e_install creates the same files again.)
  EXPECT_TRUE(run("Drop DATABASE [tavox]").errors().empty());
}

TEST_F(ExecutorTest, LoginProvisioningStatements) {
  play({
      {"sp_droplogin zq", {15007}, "'zq' is not a valid login or you do not have permission."},
      {"sp_addlogin 'zq','zq'", {15247}, "", "joe"},
      {"sp_addlogin 'zq','zq'", {}, "", "sec"},
      {"sp_addlogin N'ZQ',N'other'", {15025}, "The server principal 'ZQ' already exists."},
      {"sp_addsrvrolemember N'zq', sysadmin", {15247}, "", "joe"},
      {"sp_addsrvrolemember N'nobody', 'sysadmin'", {15007}},
      {"sp_addsrvrolemember N'zq', wizard", {15402}},
      // securityadmin may grant other roles but not sysadmin.
      {"sp_addsrvrolemember N'zq', sysadmin", {15247}, "", "sec"},
      {"sp_addsrvrolemember N'zq', serveradmin", {}, "", "sec"},
      {"sp_addsrvrolemember N'zq', sysadmin", {}},  // to own databases below
      {"exec sp_defaultdb N'nobody', N'master'", {15007}},
      {"exec sp_defaultdb N'zq', N'nodb'",
       {15010},
       "The database 'nodb' does not exist. Supply a valid database name. To see available "
       "databases, use sys.databases."},
      {"exec sp_defaultdb N'zq', N'MSDB'", {}},
      // The call's shape is checked like a real procedure's.
      {"sp_droplogin", {201}},
      {"sp_defaultdb 'a','b','c'", {8144}},
      {"sp_nosuch 'a'", {2812}, "Could not find stored procedure 'sp_nosuch'."},
  });
  // (The password and roles the install gives, as sa: tests/e2e_install.)
  EXPECT_EQ(state_->find_login("zq")->default_database, "msdb");

  // A login that owns a database, or is logged on, stays.
  run(create_sql("owned", windows_dir()), "zq");
  run(create_sql("second", windows_dir()), "zq");
  play({{"sp_droplogin 'zq'",
         {15174},
         "Login 'zq' owns one or more database(s). Change the owner of the following "
         "database(s) before dropping login: owned, second."}});
  run("Drop DATABASE second, owned");
  int spid = state_->open_session("zq", "master");
  play({{"sp_droplogin 'zq'",
         {15434},
         "Could not drop login 'zq' as the user is currently logged in."}});
  state_->close_session(spid);
  play({{"sp_droplogin zq", {15247}, "", "joe"}, {"sp_droplogin zq", {}}});
  EXPECT_EQ(state_->find_login("zq"), nullptr);
}

TEST_F(ExecutorTest, ConfigurationNeedsServeradminAndReconfigure) {
  auto changed = [](int from, int to) {
    return "Configuration option 'allow updates' changed from " + std::to_string(from) + " to " +
           std::to_string(to) + ". Run the RECONFIGURE statement to install.";
  };
  play({{"sp_configure 'allow updates',1", {}, changed(0, 1), "srv"},
        {"RECONFIGURE WITH OVERRIDE", {}, "", "srv"},
        {"sp_configure 'allow updates',0", {}, changed(1, 0)},
        {"sp_configure 'allow updates',1", {15247}, "", "joe"},
        {"RECONFIGURE WITH OVERRIDE", {5812}, "", "sec"},
        {"sp_configure 'allow updates',2", {15129}},
        {"sp_configure 'no such option',1", {15123}}});
  // Name, minimum, maximum, the value set last and the value installed before it.
  EXPECT_EQ(run("sp_configure 'allow'").rows(),
            (std::vector<Row>{
                {std::string("allow updates"), int64_t{0}, int64_t{1}, int64_t{0}, int64_t{1}}}));
}

TEST_F(ExecutorTest, RestoreReportsProgressAndMovesTheFiles) {
  const std::string bak = backup();
  run(create_sql("tavox", windows_dir()));
  std::ofstream(root_ + "/junk.bak") << "not a backup";
  EXPECT_FALSE(parse_backup("STANDIN-BACKUP 1\ndatabase x\n"));  // cut short
  play({
      {restore_sql("tavox", root_ + "\\nothing.bak", windows_dir()),
       {3201, 3013},
       "Cannot open backup device '" + root_ +
           "\\nothing.bak'. Operating system error 2(The system cannot find the file "
           "specified.)."},
      {restore_sql("tavox", "", windows_dir()), {3201, 3013}},
      {restore_sql("tavox", bak, windows_dir(), "other_data"),
       {3234, 3013},
       "Logical file 'other_data' is not part of database 'tavox'. Use RESTORE FILELISTONLY "
       "to list the logical file names."},
      {restore_sql("tavox", root_ + "/junk.bak", windows_dir()), {3241, 3013}},
      {restore_sql("tavox", bak, windows_dir() + "moved\\"),  // the folder is missing
       {5133, 3156, 5133, 3156, 3119, 3013}},
      {"RESTORE FILELISTONLY FROM DISK = N'/none.bak'", {3201, 3013}},
      {restore_sql("fresh", bak, windows_dir()), {3110, 3013}, "", "joe"},
  });

  fs::create_directories(root_ + "/data/moved");
  auto ok = run(restore_sql("tavox", bak, windows_dir() + "moved\\"));
  EXPECT_TRUE(ok.errors().empty());
  std::vector<int> expected(10, 3211);
  expected.insert(expected.end(), {4035, 4035, 3014});
  // (Their texts, each sent at once: OdbcClient.RestoreReportsProgress..., tests/platform.)
  EXPECT_EQ(ok.numbers(), expected);
  EXPECT_EQ(ok.text(4035).rfind(
                "Processed 328 pages for database 'tavox', file 'tavox_data' on file 1.", 0),
            0u);
  EXPECT_EQ(ok.text(3014).rfind("RESTORE DATABASE successfully processed 330 pages in ", 0), 0u);
  EXPECT_EQ(ok.last().kind, Event::Done);
  EXPECT_EQ(ok.last().status, kDoneFinal);

  // (The restored database's files as the state records them: tests/e2e_install.)
  EXPECT_TRUE(fs::exists(root_ + "/data/moved/tavox_Log.LDF"));
  EXPECT_FALSE(fs::exists(root_ + "/data/tavox_Data.MDF"));  // gone with the old database

  auto list = run("RESTORE FILELISTONLY FROM DISK = N'" + bak + "'");
  ASSERT_EQ(list.rows().size(), 2u);
  EXPECT_EQ(list.rows()[1][3], Cell{});  // the log is in no file group

  state_->marked_in_use.insert("tavox");
  play({{restore_sql("tavox", bak, windows_dir() + "moved\\"), {3101, 3013}}});
}

TEST_F(ExecutorTest, RestoreFailureLeavesTheDatabaseRestoring) {
  const std::string bak = backup();
  controls_.restore_fail_at = 30;
  auto failed = run(restore_sql("tavox", bak, windows_dir()));
  EXPECT_EQ(failed.numbers(), (std::vector<int>{3211, 3211, 3211, 3203, 3013}));
  EXPECT_EQ(failed.text(3203),
            "Read on '" + bak + "' failed: 23(Data error (cyclic redundancy check).)");
  EXPECT_EQ(state_->find_database("tavox")->status, "RESTORING");
  EXPECT_FALSE(executor_->login("sa", "SECRET", "tavox").ok);
  // (A cancel leaves it the same way: StandinE2E.CancelStopsARestore...)
}

TEST_F(ExecutorTest, ControlsAndSyntaxErrors) {
  controls_.add_failure(
      "sp_addsrvrolemember.*serveradmin:15247:User does not have permission to perform this "
      "action.");
  play({{"sp_addlogin 'zq','zq'", {}},
        {"sp_addsrvrolemember N'zq', ServerAdmin",
         {15247},
         "User does not have permission to perform this action.",
         "sa",
         16}});
  EXPECT_TRUE(state_->find_login("zq")->roles.empty());  // the failed statement did nothing
  EXPECT_TRUE(run("sp_addsrvrolemember N'zq', serveradmin").errors().empty());  // used up
  EXPECT_THROW(controls_.add_failure("no number here"), std::invalid_argument);
  controls_.add_drop("^RESTORE");  // without regard to letter case, as failures
  EXPECT_TRUE(controls_.should_drop("restore database x"));
  EXPECT_FALSE(controls_.should_drop("select 1 -- RESTORE"));

  play({{"hello world", {2812}},
        {"select from", {156}},
        {"select name from nowhere", {208}},
        {"select nosuch from sysdatabases", {207}},
        {"select @x", {137}}});
  // The batch goes on after a failed statement, each statement with its own DONE.
  auto two = run("Drop DATABASE nosuch; select 1");
  EXPECT_EQ(two.errors(), std::vector<int>{3701});
  EXPECT_EQ(two.rows().size(), 1u);
  EXPECT_EQ(two.last().status & kDoneMore, 0);
}

// Parsed or not, a mangled statement only ever gets messages: no exception
// leaves the parser or the executor.
TEST_F(ExecutorTest, MangledStatementsOnlyEverGetMessages) {
  const std::string bak = backup();
  const std::vector<std::string> samples = {
      restore_sql("tavox", bak, windows_dir()),
      create_sql("tavox", windows_dir()),
      "sp_addsrvrolemember N'zq', sysadmin",
      "sp_configure 'allow updates',1",
      "exec sp_defaultdb N'zq', N'tavox'",
      "IF @@TRANCOUNT > 0 COMMIT TRAN ELSE SELECT 1",
      "select name, dbid from master..sysdatabases where lower(name) = 'tavox' or dbid > 2",
      "RESTORE FILELISTONLY FROM DISK = N'" + bak + "'"};
  const std::string alphabet = "[]'N(),;=@ -/*%.0123456789abcXYZ\n";
  std::mt19937 rng(11);
  int refused = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string s = samples[static_cast<size_t>(round) % samples.size()];
    for (int k = 0; k < 3; ++k) {
      size_t at = rng() % s.size();
      if (rng() % 2)
        s[at] = alphabet[rng() % alphabet.size()];
      else
        s.erase(at, 1 + rng() % 3);
      if (s.empty()) s = "x";
    }
    try {
      refused += !run(s).errors().empty();
    } catch (const std::exception& e) {
      ADD_FAILURE() << s << ": " << e.what();
    }
  }
  EXPECT_GT(refused, 200);
}

// ---- today's servers -----------------------------------------------------------------

// Messages as SQL Server's documentation gives them: number -> text. All are
// of class 16 but 343 and 1038, of class 15.
const std::map<int, std::string>& documented() {
  static const std::map<int, std::string> m = {
      {15116,
       "Password validation failed. The password does not meet the operating system policy "
       "requirements because it is too short."},
      {15118,
       "Password validation failed. The password does not meet the operating system policy "
       "requirements because it is not complex enough."},
      {33064,
       "Password validation failed. The password does not meet SQL Server password policy "
       "requirements because it is not complex enough. The password must be at least 8 "
       "characters long and contain characters from three of the following four sets: "
       "Uppercase letters, Lowercase letters, Base 10 digits, and Symbols."},
      {15025, "The server principal 'joe' already exists."},
      {343, "Unknown object type 'LOGIN' used in a CREATE, DROP, or ALTER statement."},
      {1038,
       "An object or column name is missing or empty. For SELECT INTO statements, verify each "
       "column has a name. For other statements, look for empty alias names. Aliases defined "
       "as \"\" or [] are not allowed. Change the alias to a valid name."},
  };
  return m;
}

TEST_F(ExecutorTest, PasswordPolicyOfEachKindOfServer) {
  struct Case {
    std::string profile;
    bool domain;
    std::string sql;
    int error;  // 0: the login is created
  };
  const std::string create = "CREATE LOGIN [shop] WITH PASSWORD = N'";
  const std::vector<Case> cases = {
      {"2000", false, create + "a'", 343},
      {"2022", false, create + "a'", 0},  // a stand-alone machine has no policy
      {"2022", true, create + "Ab1xyz'", 15116},
      {"2022", true, create + "abcdefgh'", 15118},
      {"2022", true, create + "Shop#2024'", 15118},  // holds the login name
      {"2022", false, "CREATE LOGIN [joe] WITH PASSWORD = N'x'", 15025},
      {"2022-linux", false, create + "Abcde1!'", 33064},  // seven characters
      {"2022-linux", false, create + "abcdefgh1'", 33064},
      {"2022-linux", false, create + "Tavox#2024'", 0},
      {"2022-linux", false, "EXEC sp_addlogin 'shop', 'a'", 33064},
      {"2022", true, create + "Tavox#2024', CHECK_POLICY = ON, DEFAULT_DATABASE = [tempdb]", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile + ": " + c.sql);
    make_state(c.profile, [&](StateOptions& o) { o.domain_password_policy = c.domain; });
    const int cls = c.error == 0 ? -1 : c.error == 343 ? 15 : 16;
    const std::string text = c.error ? documented().at(c.error) : "";
    play({{c.sql, c.error ? std::vector<int>{c.error} : std::vector<int>{}, text, "sa", cls}});
    EXPECT_EQ(state_->find_login("shop") != nullptr, c.error == 0);
  }
  EXPECT_EQ(state_->find_login("shop")->default_database, "tempdb");  // the last case's
  make_state("2022");
  EXPECT_EQ(run("CREATE LOGIN [x] WITH PASSWORD = N'Tavox#2024'", "joe").errors(),
            std::vector<int>{15247});
}

TEST_F(ExecutorTest, BackupVersionsAgainstEachServer) {
  struct Case {
    std::string profile, backup_version;
    std::string refused_from = {}, refused_to = {};  // 3169's two versions; none: it restores
  };
  const std::vector<Case> cases = {
      {"2000", "15.0", "15.00.2000", "8.00.2039"},
      {"2022", "8.0", "8.00.0194", "16.00.1000"},  // before 2005: no upgrade path
      {"2022", "9.0"},
      {"2022", "15.0"},
      {"2022-linux", "8.0.2039", "8.00.2039", "16.00.1000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile + " reads " + c.backup_version);
    make_state(c.profile);
    const std::string bak = backup(c.backup_version);

    const bool today = c.profile != "2000";
    auto header = run("RESTORE HEADERONLY FROM DISK = N'" + bak + "'");
    EXPECT_EQ(header.rows().size(), 1u);
    EXPECT_EQ(header.first_set().columns.size(), today ? 59u : 33u);
    EXPECT_EQ(header.column("SoftwareVersionMajor"), Cell{int64_t{std::stoi(c.backup_version)}});
    EXPECT_EQ(header.column("DatabaseName"), Cell{std::string("tavox")});
    EXPECT_EQ(header.column("BackupType"), Cell{int64_t{1}});
    auto files = run("RESTORE FILELISTONLY FROM DISK = N'" + bak + "'");
    EXPECT_EQ(files.first_set().columns.size(), today ? 22u : 6u);
    EXPECT_EQ(files.column("Type", 1), Cell{std::string("L")});

    auto restore = run(restore_sql("tavox", bak, windows_dir()));
    const bool refused = !c.refused_from.empty();
    EXPECT_EQ(restore.errors(), (refused ? std::vector<int>{3169, 3013} : std::vector<int>{}));
    EXPECT_EQ(restore.text(3169),
              refused ? "The database was backed up on a server running version " + c.refused_from +
                            ". That version is incompatible with this server, which is running "
                            "version " +
                            c.refused_to +
                            ". Either restore the database on a server that supports the backup, "
                            "or use a backup that is compatible with this server."
                      : "");
  }
}

TEST_F(ExecutorTest, TodaysServersAnswerAsDocumented) {
  make_state("2022");
  const std::string bak = backup("15.0");
  auto version =
      run("SELECT SERVERPROPERTY('ProductVersion'), SERVERPROPERTY('ProductMajorVersion'), "
          "@@VERSION");
  ASSERT_EQ(version.rows().size(), 1u);
  EXPECT_EQ(version.rows()[0][0], Cell{std::string("16.0.1000.6")});
  EXPECT_EQ(version.rows()[0][1], Cell{std::string("16")});
  EXPECT_EQ(std::get<std::string>(version.rows()[0][2]).rfind("Microsoft SQL Server 2022 ", 0), 0u);

  // The model database is 8 MB (a file of no SIZE takes its size); empty
  // bracketed names fail in any statement.
  const std::string empty_name = documented().at(1038);
  play({{create_sql("seven", windows_dir(), 7),
         {1803},
         "The CREATE DATABASE statement failed. The primary file must be at least 8 MB to "
         "accommodate a copy of the model database."},
        {create_sql("eight", windows_dir(), 8), {}},
        {"CREATE DATABASE [nosize] ON PRIMARY (NAME = d, FILENAME = 'C:\\n.mdf')", {}},
        {"CREATE DATABASE []", {1038}, empty_name, "sa", 15},
        {"DROP DATABASE []", {1038}, empty_name, "sa", 15},
        {"USE []", {1038}, empty_name, "sa", 15},
        {"SELECT 1 AS []", {1038}, empty_name, "sa", 15}});

  // Progress at approximately each STATS step, then each file and the total, all class 0.
  RecordingSink sink;
  RecordingSink drop;
  sink.on_wait = [&] {  // a second session's statement, the first time the restore waits
    if (drop.events.empty()) run_into(drop, "DROP DATABASE [tavox]");
    return true;
  };
  run_into(sink, restore_sql("tavox", bak, windows_dir()));
  EXPECT_EQ(drop.errors(), std::vector<int>{3702});
  EXPECT_EQ(drop.text(3702), "Cannot drop database \"tavox\" because it is currently in use.");
  std::vector<int> percents;
  for (const auto& e : sink.events) {
    if (e.kind != Event::Message) continue;
    EXPECT_EQ(e.message.cls, 0) << e.message.number << " " << e.message.text;
    if (e.message.number == 3211) percents.push_back(std::stoi(e.message.text));
  }
  ASSERT_EQ(percents.size(), 10u);
  EXPECT_EQ(percents.back(), 100);
  for (size_t k = 0; k < percents.size(); ++k)
    EXPECT_EQ(percents[k] / 10, static_cast<int>(k + 1)) << percents[k];
  EXPECT_EQ(sink.numbers().back(), 3014);
  EXPECT_EQ(run("DROP DATABASE [tavox]").errors(), std::vector<int>{});  // the restore is over

  // A backup the service account cannot read.
  make_state("2022", [](StateOptions& o) { o.backups_unreadable = true; });
  const std::pair<std::string, std::string> refused[] = {
      {"RESTORE HEADERONLY FROM DISK = N'" + bak + "'",
       "RESTORE HEADERONLY is terminating abnormally."},
      {"RESTORE FILELISTONLY FROM DISK = N'" + bak + "'",
       "RESTORE FILELIST is terminating abnormally."},
      {restore_sql("tavox", bak, windows_dir()), "RESTORE DATABASE is terminating abnormally."}};
  for (const auto& [sql, terminating] : refused) {
    play({{sql,
           {3201, 3013},
           "Cannot open backup device '" + bak +
               "'. Operating system error 5(Access is denied.)."}});
    EXPECT_EQ(run(sql).text(3013), terminating);
  }
}

}  // namespace
}  // namespace standin
