#include <gtest/gtest.h>

#include "sql.h"

namespace standin {
namespace {

template <class T>
T only(const std::vector<Statement>& v) {
  EXPECT_EQ(v.size(), 1u);
  return std::get<T>(v.at(0).body);
}

// The messages a batch that cannot be parsed gets: their numbers and the first one's text.
std::pair<std::vector<int>, std::string> refusal(const std::string& sql) {
  try {
    parse_batch(sql);
  } catch (const SqlError& e) {
    std::vector<int> n;
    for (const auto& m : e.messages) n.push_back(m.number);
    return {n, e.messages.at(0).text};
  }
  return {};
}
std::vector<int> syntax_errors(const std::string& sql) { return refusal(sql).first; }
std::string first_error_text(const std::string& sql) { return refusal(sql).second; }

TEST(SqlParser, InstallerCreateStatementAndItsVariants) {
  const auto& c =
      only<CreateDatabase>(parse_batch("CREATE DATABASE [tavox]  ON PRIMARY (NAME = N'tavox_data', "
                                       "FILENAME = N'C:\\data\\tavox_Data.MDF' , "
                                       "SIZE = 1, FILEGROWTH = 10%) LOG ON (NAME = N'tavox_log', "
                                       "FILENAME = N'C:\\data\\tavox_Log.LDF' , SIZE = 1, "
                                       "FILEGROWTH = 10%)"));
  // (Its name, files and sizes: the executor's CREATE DATABASE tests.)
  ASSERT_EQ(c.data.size(), 1u);
  ASSERT_EQ(c.log.size(), 1u);
  EXPECT_EQ(c.data[0].logical, "tavox_data");

  // No SIZE, other units, a bracketed name with a doubled ], odd blanks and case.
  const auto& v = only<CreateDatabase>(parse_batch(
      "create   database [a]]b]\n on primary ( name = d , filename = 'p''q.mdf', size = 512KB )\n"
      "log on (NAME=l,FILENAME=N'l.ldf',FILEGROWTH=1MB);"));
  EXPECT_EQ(
      std::tie(v.name, v.data[0].logical, v.data[0].filename, v.data[0].size_mb, v.log[0].size_mb),
      std::make_tuple(std::string("a]b"), std::string("d"), std::string("p'q.mdf"),
                      std::optional<double>(0.5), std::optional<double>()));

  // A value with a quote in it breaks the statement, as on the server.
  EXPECT_EQ(syntax_errors("CREATE DATABASE [x]  ON PRIMARY (NAME = N'd', FILENAME = "
                          "N'C:\\it's\\x.MDF' , SIZE = 1)"),
            (std::vector<int>{105, 102}));
  EXPECT_EQ(syntax_errors("CREATE DATABASE [x]  ON PRIMARY (NAME = N'd', SIZE = 1)"),
            std::vector<int>{102});
}

TEST(SqlParser, InstallerRestoreStatementsOfBothEditions) {
  for (const char* blanks : {"  ,", " ,"}) {
    std::string sql =
        std::string(
            "RESTORE DATABASE [tavox] FROM  DISK = N'D:\\bak\\tavox.bak' WITH  FILE = 1,  ") +
        "NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE" + blanks +
        " MOVE N'tavox_data' TO N'C:\\data\\tavox_Data.MDF', MOVE N'tavox_log' TO "
        "N'C:\\data\\tavox_Log.LDF'";
    // (The rest of it, in both forms: the executor's and the install's restores.)
    EXPECT_TRUE(only<Restore>(parse_batch(sql)).replace);
  }
  const auto& f = only<Restore>(parse_batch("restore filelistonly from disk = 'x.bak'"));
  EXPECT_EQ(f.kind, Restore::FileListOnly);
  EXPECT_EQ(f.disk, "x.bak");
  // An empty backup path still parses; the server then cannot open it.
  EXPECT_EQ(
      only<Restore>(parse_batch("RESTORE DATABASE [x] FROM  DISK = N'' WITH  NORECOVERY")).disk,
      "");
  EXPECT_EQ(refusal("RESTORE DATABASE x FROM DISK = 'a' WITH SPEEDY"),
            std::pair(std::vector<int>{155},
                      std::string("'SPEEDY' is not a recognized RESTORE option.")));
  EXPECT_EQ(syntax_errors("RESTORE DATABASE x FROM DISK = 'a' WITH STATS = 99999999999"),
            std::vector<int>{8115});
}

TEST(SqlParser, ProcedureCallsWithAndWithoutExec) {
  // (The installer's own calls are run through the executor's tests.)
  const auto& def = only<Exec>(parse_batch("exec sp_defaultdb N'zq', N'ta''vox'"));
  EXPECT_EQ(def.args[1].text, "ta'vox");

  const auto& cfg = only<Exec>(parse_batch("EXECUTE master.dbo.sp_configure 'allow updates',1;"));
  EXPECT_EQ(cfg.proc, "sp_configure");
  EXPECT_EQ(cfg.args[1].kind, ExecArg::Number);
  EXPECT_EQ(cfg.args[1].text, "1");

  const auto& named =
      only<Exec>(parse_batch("EXEC sp_configure @configname = 'allow updates', @configvalue = -1"));
  EXPECT_EQ(named.args[0].name, "@configname");
  EXPECT_EQ(named.args[1].text, "-1");

  // Only the first statement of a batch may leave out EXEC.
  EXPECT_EQ(parse_batch("exec sp_droplogin a; exec sp_droplogin b").size(), 2u);
  EXPECT_EQ(syntax_errors("select 1 sp_droplogin b"), std::vector<int>{102});
  // The unquoted password of the installer's login statement breaks it when it holds a blank.
  EXPECT_EQ(syntax_errors("sp_addlogin 'zq','a'b'"), (std::vector<int>{105, 102}));
}

TEST(SqlParser, DropAndTheCatalogNames) {
  EXPECT_EQ(only<DropDatabase>(parse_batch("DROP DATABASE [my db]")).names,
            std::vector<std::string>{"my db"});
  EXPECT_EQ(first_error_text("Drop DATABASE my db"), "Incorrect syntax near 'db'.");
  EXPECT_EQ(first_error_text("Drop DATABASE "), "Incorrect syntax near 'DATABASE'.");
  EXPECT_EQ(syntax_errors("Drop DATABASE select"), std::vector<int>{156});

  EXPECT_EQ(only<Select>(parse_batch("select * from master.dbo.sysdatabases")).from,
            "sysdatabases");
  EXPECT_EQ(only<Select>(parse_batch("select name from sys.databases d where d.name = N'x'")).from,
            "sys.databases");
}

TEST(SqlParser, NamesLongerThan128CharactersFailTheBatchWith103) {
  const std::string at_limit(128, 'n');
  EXPECT_EQ(only<DropDatabase>(parse_batch("Drop DATABASE [" + at_limit + "]")).names,
            std::vector<std::string>{at_limit});
  EXPECT_EQ(only<DropDatabase>(parse_batch("Drop DATABASE " + at_limit)).names,
            std::vector<std::string>{at_limit});
  EXPECT_EQ(syntax_errors("Drop DATABASE [" + at_limit + "x]"), std::vector<int>{103});
  EXPECT_EQ(syntax_errors("Drop DATABASE " + at_limit + "x"), std::vector<int>{103});
  EXPECT_EQ(
      first_error_text("CREATE DATABASE [" + at_limit + "]]x]"),
      "The identifier that starts with '" + at_limit + "' is too long. Maximum length is 128.");
  // Characters count, not bytes: 128 Chinese characters are a name.
  std::string chinese;
  for (int i = 0; i < 64; ++i) chinese += "零售";
  EXPECT_EQ(only<DropDatabase>(parse_batch("Drop DATABASE [" + chinese + "]")).names,
            std::vector<std::string>{chinese});
  EXPECT_EQ(syntax_errors("Drop DATABASE [" + chinese + "x]"), std::vector<int>{103});
  // A long string literal is no name.
  EXPECT_EQ(syntax_errors("sp_addlogin 'zq','" + std::string(4000, 'p') + "'"), std::vector<int>{});
}

// Deep nesting and long operator chains (which nest the tree just as deep)
// fail the batch with SQL Server's 191 instead of exhausting the stack of the
// connection's thread; ordinary statements still parse.
TEST(SqlParser, NestingTooDeepFailsTheBatchWith191) {
  auto nested = [](int depth, const std::string& open, const std::string& inner,
                   const std::string& close) {
    std::string s;
    for (int i = 0; i < depth; ++i) s += open;
    s += inner;
    for (int i = 0; i < depth; ++i) s += close;
    return s;
  };
  const int kDeep = 5000;
  for (const std::string& sql :
       {"SELECT " + nested(kDeep, "(", "1", ")"), "SELECT " + nested(kDeep, "LOWER(", "'a'", ")"),
        "SELECT " + nested(kDeep, "NOT ", "1 = 1", ""), "SELECT " + nested(kDeep, "- ", "1", ""),
        "SELECT " + nested(kDeep, "+ ", "1", ""), nested(kDeep, "IF 1 = 1 ", "PRINT 1", ""),
        "SELECT " + nested(kDeep, "1 + ", "1", ""),
        "PRINT " + nested(kDeep, "1 = 1 OR ", "1 = 1", ""),
        "PRINT " + nested(kDeep, "1 = 1 AND ", "1 = 1", "")})
    EXPECT_EQ(syntax_errors(sql), std::vector<int>{191}) << sql.substr(0, 40);
  // Chains inside parentheses add up.
  EXPECT_EQ(syntax_errors("SELECT " + nested(150, "(", nested(150, "1 + ", "1", ""), ") - 1")),
            std::vector<int>{191});
  EXPECT_EQ(first_error_text("SELECT " + nested(kDeep, "(", "1", ")")),
            "Some part of your SQL statement is nested too deeply. Rewrite the query or break it "
            "up into smaller queries.");

  const auto& shallow = only<Select>(parse_batch("SELECT " + nested(40, "(", "1", ")") + " AS x"));
  EXPECT_EQ(shallow.items.at(0).alias, "x");
  EXPECT_EQ(parse_batch(nested(40, "IF NOT - (1) = LOWER(2) ", "PRINT 1", "")).size(), 1u);
  EXPECT_EQ(parse_batch("SELECT " + nested(200, "'a' + ", "'b'", "")).size(), 1u);
}

TEST(SqlParser, ConnectionChatterAndBatches) {
  auto stmts = parse_batch(
      "SET TEXTSIZE 2147483647; set quoted_identifier, ansi_nulls on\n"
      "SET TRANSACTION ISOLATION LEVEL READ COMMITTED /* comment */ SET LOCK_TIMEOUT -1\n"
      "-- line comment\nIF @@TRANCOUNT > 0 COMMIT TRAN ELSE PRINT 'none'\nRECONFIGURE WITH "
      "OVERRIDE\nuse [master]");
  ASSERT_EQ(stmts.size(), 7u);
  EXPECT_EQ(std::get<SetOption>(stmts[1].body).options,
            (std::vector<std::string>{"QUOTED_IDENTIFIER", "ANSI_NULLS"}));
  EXPECT_EQ(std::get<SetOption>(stmts[2].body).value, "READ COMMITTED");
  EXPECT_EQ(std::get<SetOption>(stmts[3].body).value, "-1");
  const auto& f = std::get<If>(stmts[4].body);
  EXPECT_TRUE(std::holds_alternative<Transaction>(f.then_branch->body));
  ASSERT_TRUE(f.else_branch);
  EXPECT_TRUE(std::get<Reconfigure>(stmts[5].body).with_override);
  EXPECT_EQ(std::get<Use>(stmts[6].body).database, "master");

  EXPECT_TRUE(parse_batch("  ;; -- nothing\n").empty());
  EXPECT_EQ(syntax_errors("/* open"), std::vector<int>{113});
  EXPECT_EQ(syntax_errors("select [open"), (std::vector<int>{105, 102}));
  EXPECT_EQ(parse_param_declarations("@P1 nvarchar(4000), @P2 decimal(10,2),@P3 int"),
            (std::vector<std::string>{"@P1", "@P2", "@P3"}));
}

}  // namespace
}  // namespace standin
