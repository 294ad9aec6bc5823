#include "cli/cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/fake_machine.h"

namespace dbsetup::cli {
namespace {

using testing::fake_machine;
using testing::FakePlatform;

TEST(CliOptions, RejectsWhatCannotBeUsed) {
  Options p;
  EXPECT_FALSE(parse({"--edition", "mss7", "--database", "shop", "--no", "--server", "h,1"}, p));
  EXPECT_EQ(p.edition + "|" + *p.database + "|" + *p.server, "mss7|shop|h,1");
  EXPECT_FALSE(*p.answer);

  const std::vector<std::vector<std::string>> bad = {{"--password", "x"},
                                                     {"--password=x"},
                                                     {"--edition", "oracle"},
                                                     {"--server"},
                                                     {"--yes", "--no"},
                                                     {"--database", "x"},
                                                     {"stray"}};
  for (const auto& args : bad) {
    Options q;
    EXPECT_TRUE(parse(args, q).has_value()) << args.front();
  }
  EXPECT_NE(usage().find("DB_SETUP_PASSWORD"), std::string::npos);
}

// A machine with SQL Server 2000 (the default instance and SHOP) and a
// dbinstall.ini in the current folder; the console is captured.
struct CliRun : ::testing::Test {
  FakePlatform fake;
  std::vector<std::string> out, err;
  std::optional<std::string> password = std::string("s3cret;}=");
  Console console;

  CliRun() {
    console.out = [this](const std::string& s) { out.push_back(s); };
    console.err = [this](const std::string& s) { err.push_back(s); };
    console.getenv = [this](const char* name) -> std::optional<std::string> {
      if (std::string(name) == "DB_SETUP_PASSWORD") return password;
      return std::nullopt;
    };
  }
  void SetUp() override {
    fake_machine(fake, "mss2000", "shop");
    fake.backup_holds("shop_data", "shop_log");
  }

  int run(std::vector<std::string> args) {
    Options o;
    EXPECT_FALSE(parse(args, o));
    return cli::run(o, fake.platform, console);
  }

  std::string all_output() const {
    std::string s;
    for (const auto& l : out) s += l + "\n";
    for (const auto& l : err) s += l + "\n";
    return s;
  }
};

TEST_F(CliRun, InstallsWithTheFieldsTheOptionsGiveAndPrintsEveryStage) {
  int status = run({"--instance", "SHOP", "--server", "db.example,1433", "--login", "admin",
                    "--backup", "F:\\b\\shop.dat"});
  EXPECT_EQ(status, 0) << all_output();
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.front(), "准备连接数据库...");
  EXPECT_EQ(out.back(), "数据库安装成功!");
  EXPECT_EQ(err.back(), "Marlox零售管理系统安装: 数据库安装成功!");

  const DbLogon& logon = fake.script->calls.front().logon;
  EXPECT_EQ(logon.server + "|" + logon.login + "|" + logon.password,
            "db.example,1433|admin|s3cret;}=");
  // The chosen instance's data folder and the given backup reach the statements.
  EXPECT_THAT(fake.statements(),
              ::testing::Contains(
                  "RESTORE DATABASE [shop] FROM  DISK = N'F:\\b\\shop.dat' WITH  FILE = 1,  "
                  "NOUNLOAD ,  STATS = 10,  RECOVERY ,  REPLACE  , MOVE N'shop_data' TO "
                  "N'E:\\MSSQL$SHOP\\Data\\shop_Data.MDF', MOVE N'shop_log' TO "
                  "N'E:\\MSSQL$SHOP\\Data\\shop_Log.LDF'"));
  EXPECT_EQ(all_output().find("s3cret"), std::string::npos);  // never printed
}

TEST_F(CliRun, ExitStatusCarriesTheInstallCodeOrTheUsageError) {
  fake.on("^CONNECT admin @", DbResult::failure(18456, "Login failed for user 'admin'."));
  EXPECT_EQ(run({"--login", "admin"}), 1);
  EXPECT_EQ(out.back(), "连接数据库失败!");
  // Besides the box, the front end gives the server's reason on a line.
  EXPECT_EQ(err.back(), "db_setup_cli: 连接数据库失败: Login failed for user 'admin'.");
  const auto sent = fake.script->calls.size();
  EXPECT_EQ(run({"--instance", "NOPE"}), kExitUsage);  // nothing sent
  EXPECT_EQ(fake.script->calls.size(), sent);
}

// Each failed detection is an exit status of its own, 32 and its code, with
// the detection's message alone; nothing is asked, installed or sent.
void nothing_installed(FakePlatform&) {}
void mss7_data_root_only(FakePlatform& f) {
  f.registry.set_string("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLServer\\Setup",
                        "SQLDataRoot", "C:\\M7");
}
void mss2000_without_ini(FakePlatform& f) {
  fake_machine(f, "mss2000");
  f.files.existing.clear();
}
struct Detection {
  const char* edition;
  void (*machine)(FakePlatform&);
  int status;
  const char* says;
};
void PrintTo(const Detection& d, std::ostream* os) { *os << d.edition << " " << d.status; }
class CliDetection : public CliRun, public ::testing::WithParamInterface<Detection> {
  void SetUp() override {}  // the machine is the case's
};

TEST_P(CliDetection, EachFailedDetectionHasItsExitStatus) {
  GetParam().machine(fake);
  EXPECT_EQ(run({"--edition", GetParam().edition}), GetParam().status);
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(err.size(), 1u);
  EXPECT_NE(err[0].find(GetParam().says), std::string::npos) << err[0];
  EXPECT_TRUE(fake.script->calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Detections, CliDetection,
                         ::testing::Values(Detection{"mss7", nothing_installed, 34, "数据安装路径"},
                                           Detection{"mss7", mss7_data_root_only, 35, "服务器名"},
                                           Detection{"mss2000", nothing_installed, 36, "安装参数"},
                                           Detection{"mss2000", mss2000_without_ini, 33,
                                                     "dbinstall.ini"}));

TEST_F(CliRun, AnOverwriteIsRefusedByNoAndByDefaultWithoutATerminal) {
  fake.on("sysdatabases", DbResult::ok(), false, "shop");
  EXPECT_EQ(run({"--no"}), 2);
  EXPECT_EQ(out.back(), "取消数据库安装!");
  console.ask = [](const std::string&) { return std::nullopt; };
  EXPECT_EQ(run({}), 2);  // the overwrite warning defaults to No
  console.ask = [](const std::string&) { return std::optional<bool>(true); };
  EXPECT_EQ(run({}), 0);
}

TEST_F(CliRun, APasswordIsNeverAssumed) {
  // No DB_SETUP_PASSWORD and nothing read at the prompt: nothing is sent.
  password.reset();
  console.read_password = [](const std::string&) { return std::nullopt; };
  EXPECT_EQ(run({}), kExitUsage);
  EXPECT_NE(err.back().find("DB_SETUP_PASSWORD"), std::string::npos);
  EXPECT_TRUE(fake.script->calls.empty());

  // An empty one is given as such.
  password = "";
  EXPECT_EQ(run({}), 0) << all_output();
  EXPECT_EQ(fake.script->calls.front().logon.password, "");
}

}  // namespace
}  // namespace dbsetup::cli
