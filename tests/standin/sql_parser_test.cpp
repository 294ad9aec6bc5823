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

TEST(SqlParser, StatementsAsTheInstallerAndTheServerWriteThem) {
  // No SIZE, other units, a bracketed name with a doubled ], odd blanks and case.
  const auto& v = only<CreateDatabase>(parse_batch(
      "create   database [a]]b]\n on primary ( name = d , filename = 'p''q.mdf', size = 512KB )\n"
      "log on (NAME=l,FILENAME=N'l.ldf',FILEGROWTH=1MB);"));
  EXPECT_EQ(
      std::tie(v.name, v.data[0].logical, v.data[0].filename, v.data[0].size_mb, v.log[0].size_mb),
      std::make_tuple(std::string("a]b"), std::string("d"), std::string("p'q.mdf"),
                      std::optional<double>(0.5), std::optional<double>()));
  // The restore of both editions of the installer: one blank or two before the MOVEs.
  for (const char* blanks : {"  ,", " ,"})
    EXPECT_TRUE(
        only<Restore>(parse_batch("RESTORE DATABASE [tavox] FROM  DISK = N'x.bak' WITH  "
                                  "FILE = 1,  NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE" +
                                  std::string(blanks) + " MOVE N'd' TO N'C:\\d.MDF'"))
            .replace);
  // (RESTORE FILELISTONLY and an empty backup path, which the server then
  // cannot open: the executor's tests. So are the installer's own calls.)
  EXPECT_EQ(only<Exec>(parse_batch("exec sp_defaultdb N'zq', N'ta''vox'")).args[1].text, "ta'vox");
  const auto& cfg = only<Exec>(parse_batch("EXECUTE master.dbo.sp_configure 'allow updates',1;"));
  EXPECT_EQ(std::tie(cfg.proc, cfg.args[1].kind, cfg.args[1].text),
            std::make_tuple(std::string("sp_configure"), ExecArg::Number, std::string("1")));
  const auto& named =
      only<Exec>(parse_batch("EXEC sp_configure @configname = 'allow updates', @configvalue = -1"));
  EXPECT_EQ(std::tie(named.args[0].name, named.args[1].text),
            std::make_tuple(std::string("@configname"), std::string("-1")));

  EXPECT_EQ(only<DropDatabase>(parse_batch("DROP DATABASE [my db]")).names,
            std::vector<std::string>{"my db"});
  EXPECT_EQ(only<Select>(parse_batch("select name from sys.databases d where d.name = N'x'")).from,
            "sys.databases");
}

TEST(SqlParser, BatchesTheServerRefuses) {
  const std::string at_limit(128, 'n');
  std::string chinese;  // characters count, not bytes: 128 Chinese characters are a name
  for (int i = 0; i < 64; ++i) chinese += "零售";
  struct Case {
    std::string sql;
    std::vector<int> numbers;
    std::string text = {};  // of the first message, when given
  } cases[] = {
      // A value with a quote in it breaks the statement, as on the server.
      {"CREATE DATABASE [x] ON PRIMARY (NAME = N'd', FILENAME = N'C:\\it's\\x.MDF')", {105, 102}},
      {"CREATE DATABASE [x]  ON PRIMARY (NAME = N'd', SIZE = 1)", {102}},
      {"RESTORE DATABASE x FROM DISK = 'a' WITH SPEEDY",
       {155},
       "'SPEEDY' is not a recognized RESTORE option."},
      {"RESTORE DATABASE x FROM DISK = 'a' WITH STATS = 99999999999", {8115}},
      // Only the first statement of a batch may leave out EXEC.
      {"select 1 sp_droplogin b", {102}},
      // The unquoted password of the installer's login statement breaks it when it holds a blank.
      {"sp_addlogin 'zq','a'b'", {105, 102}},
      {"Drop DATABASE my db", {102}, "Incorrect syntax near 'db'."},
      {"Drop DATABASE ", {102}, "Incorrect syntax near 'DATABASE'."},
      {"Drop DATABASE select", {156}},
      {"Drop DATABASE [" + at_limit + "x]", {103}},
      {"Drop DATABASE " + at_limit + "x", {103}},
      {"CREATE DATABASE [" + at_limit + "]]x]",
       {103},
       "The identifier that starts with '" + at_limit + "' is too long. Maximum length is 128."},
      {"Drop DATABASE [" + chinese + "x]", {103}},
      {"sp_addlogin 'zq','" + std::string(4000, 'p') + "'", {}},  // a long string is no name
      {"/* open", {113}},
      {"select [open", {105, 102}},
  };
  for (const auto& c : cases) {
    auto [numbers, text] = refusal(c.sql);
    EXPECT_EQ(numbers, c.numbers) << c.sql.substr(0, 60);
    EXPECT_EQ(c.text.empty() ? "" : text, c.text);
  }
  for (const std::string& name : {at_limit, chinese})
    for (const std::string& sql : {"Drop DATABASE [" + name + "]", "Drop DATABASE " + name})
      EXPECT_EQ(only<DropDatabase>(parse_batch(sql)).names, std::vector<std::string>{name});
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
  EXPECT_EQ(refusal("SELECT " + nested(kDeep, "(", "1", ")")).second,
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
  EXPECT_EQ(parse_param_declarations("@P1 nvarchar(4000), @P2 decimal(10,2),@P3 int"),
            (std::vector<std::string>{"@P1", "@P2", "@P3"}));
}

}  // namespace
}  // namespace standin
