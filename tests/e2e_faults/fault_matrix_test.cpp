// Every statement and logon of a full install (over an existing database,
// confirmed with Yes), once failing with a server error and once losing the
// connection, in both editions. Each case must end the way the procedure
// defines for that stage: return code, failure box, status line, logoff,
// and nothing sent to the server after the stage that failed.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/install_run.h"

namespace dbsetup::testing {
namespace {

using nlohmann::json;
using std::chrono::seconds;

// What the server receives during a full install over an existing database,
// in order, then the two logons, which are targets of faults only: each
// step's name in the test names, and how its statement's text begins.
#define FAULT_STEPS(X)                                                \
  X(WindowsOnly, "SELECT SERVERPROPERTY('IsIntegratedSecurityOnly')") \
  X(HeaderList, "RESTORE HEADERONLY")                                 \
  X(FileList, "RESTORE FILELISTONLY")                                 \
  X(Collation, "SELECT SERVERPROPERTY('Collation')")                  \
  X(Sysadmin, "SELECT IS_SRVROLEMEMBER('sysadmin')")                  \
  X(ExistenceQuery, "SELECT name FROM sysdatabases")                  \
  X(FolderCheck, "EXEC master.dbo.xp_fileexist")                      \
  X(ServerFiles, "SELECT DB_NAME(dbid), filename")                    \
  /* the 2000 edition only: the 7.0 one looks on this machine */      \
  X(DataFileCheck, "EXEC master.dbo.xp_fileexist")                    \
  X(LogFileCheck, "EXEC master.dbo.xp_fileexist")                     \
  X(FixedDrives, "EXEC master.dbo.xp_fixeddrives")                    \
  X(Verify, "RESTORE VERIFYONLY")                                     \
  X(Copy, "BACKUP DATABASE")                                          \
  X(DropLogin, "sp_droplogin")                                        \
  X(AddLogin, "sp_addlogin")                                          \
  /* only where the password policy refuses sp_addlogin */            \
  X(CreateLogin, "CREATE LOGIN")                                      \
  X(GrantSysadmin, "sp_addsrvrolemember N'zq', sysadmin")             \
  X(GrantSecurityadmin, "sp_addsrvrolemember N'zq', securityadmin")   \
  X(GrantServeradmin, "sp_addsrvrolemember N'zq', serveradmin")       \
  /* by the install login, once the copy is safe */                   \
  X(Drop, "Drop DATABASE")                                            \
  X(Create, "CREATE DATABASE")                                        \
  X(DefaultDb, "exec sp_defaultdb")                                   \
  X(Restore, "RESTORE DATABASE")                                      \
  X(AllowUpdatesOn, "sp_configure 'allow updates',1")                 \
  X(Reconfigure2, "RECONFIGURE WITH OVERRIDE")                        \
  X(AllowUpdatesOff, "sp_configure 'allow updates',0")                \
  X(Reconfigure6, "RECONFIGURE WITH OVERRIDE")                        \
  X(AdminLogon, "")                                                   \
  X(InstallLogon, "")

#define STEP_NAME(name, text) name,
#define STEP_ENTRY(name, text) {#name, text},
enum Step { FAULT_STEPS(STEP_NAME) None /* nothing reaches the server */ };
const std::vector<std::pair<std::string, std::string>> kSteps = {FAULT_STEPS(STEP_ENTRY)};
#undef STEP_NAME
#undef STEP_ENTRY
const std::string& prefix(int step) { return kSteps[step].second; }

bool disk_check(int step) { return step == DataFileCheck || step == LogFileCheck; }

// Which match of its prefix a statement is: the second RECONFIGURE is 2.
int nth(Step step) {
  int n = 1;
  for (int s = WindowsOnly; s < step; ++s) n += prefix(s) == prefix(step);
  return n;
}

// How a case must end.
struct Ending {
  int code;
  std::string title;   // of the one box shown
  std::string head;    // its text before the error text; none shows where empty
  std::string status;  // the status line at the end
};

Ending stage(int code, const std::string& short_text, const std::string& title = kAppName) {
  return {code, title, short_text + "\r\n\n错误信息:", short_text};
}

// The success message, naming the copy of the old database.
const Ending kInstalled{0, kAppName, kSuccess, kSuccess};
const Ending kConnect = stage(-1, "连接数据库失败!");
const Ending kOldData = stage(-3, "检测旧数据失败!", "检测旧数据失败!");
const Ending kNewUser = stage(-6, "创建新用户失败!");
const Ending kRelogon = stage(-7, "重新登录数据库失败!");
const Ending kCreate = stage(-8, "创建数据库失败!");
const Ending kRights = stage(-9, "更改数据库权限失败!");
const Ending kLoad = stage(-10, "装载数据失败!");
Ending config(int step) {
  return stage(-10 - step, "修改数据配置" + std::to_string(step) + "失败!");
}

constexpr int kInjectedNumber = 50000;

// The error text at the end of the failure box: the driver's own words for a
// connection that is gone, the server's where its state decides.
namespace Detail {
const std::string Injected = "Injected failure of this statement.";
const std::string LostHere = "Unexpected EOF from the server";  // closed while waiting
const std::string LostBefore = "Communication link failure";    // found already gone
const std::string LostAtLogon = LostHere + "\nAdaptive Server connection failed";
const std::string DbExists = "Database 'nuvex' already exists. Choose a different database name.";
const std::string NoLogin = "'zq' is not a valid login or you do not have permission.";
// The policy's refusal of sp_addlogin, where there is one, comes first.
const std::string Policy =
    "Password validation failed. The password does not meet the operating system policy "
    "requirements because it is too short.\n";
const std::string NoDrop =
    "Cannot drop the database 'nuvex', because it does not exist or you do not have permission.";
const std::string NoCopy = "不能备份旧数据库，旧数据库没有任何改动。\n";
const std::string NoBox;  // no failure box
}  // namespace Detail

struct Expect {
  Ending ending;
  std::string detail;
  Step last;  // the last statement the server receives
  // Past the drop the box names the old database's copy after the detail.
  bool names_copy = false;
};

enum class Kind { ServerError, Dropped };

struct Case {
  Kind kind;
  Step target;
  Expect mss2000;
  Expect mss7;
  int number = kInjectedNumber;
  bool policy = false;  // SQL Server 2022 with a domain's password policy
  bool fresh = false;   // no database was found: none was verified, copied or dropped
};

std::string name(const Case& c) {
  const std::string number = c.number == kInjectedNumber ? "" : std::to_string(c.number);
  return (c.kind == Kind::Dropped ? "DroppedAt" : "ServerError" + number + "At") +
         kSteps[c.target].first;
}

// One row per fault. Where the procedure ignores a statement's outcome the run
// goes on; it then ends where the server's state (or a connection that is
// gone) makes the next checked statement fail.
const std::vector<Case>& cases() {
  static const std::vector<Case> rows = [] {
    using namespace Detail;
    std::vector<Case> r;
    const Kind E = Kind::ServerError;
    const Kind D = Kind::Dropped;
    // The run ends at the target unless `last` says otherwise.
    auto same = [&](Kind kind, Step target, const Ending& e, const std::string& detail,
                    Step last = None) {
      const Expect x{e, detail, last == None ? target : last};
      r.push_back({kind, target, x, x});
    };

    // A check the server refuses to answer is skipped: it never refuses on
    // its own account.
    for (Step check :
         {Collation, Sysadmin, FolderCheck, ServerFiles, DataFileCheck, LogFileCheck, FixedDrives})
      same(E, check, kInstalled, NoBox, Reconfigure6);
    // A failed existence query counts as "no such database": nothing is asked,
    // copied or dropped, and CREATE DATABASE then meets the old database.
    same(E, ExistenceQuery, kCreate, DbExists, Create);
    r.back().fresh = true;
    same(E, Verify, kLoad, Injected);
    same(E, Copy, kOldData, NoCopy + Injected);
    same(E, Drop, kOldData, Injected);
    // 5105 (device activation error) does not count as a failed drop for
    // 7.0; the database is still there, so CREATE DATABASE fails.
    same(E, Drop, kOldData, Injected);
    r.back().mss7 = {kCreate, DbExists, Create, true};
    r.back().number = 5105;
    same(E, DropLogin, kInstalled, NoBox, Reconfigure6);
    // The login is never created, so the last grant fails on it.
    same(E, AddLogin, kNewUser, Injected + "\n" + NoLogin, GrantServeradmin);
    // Without sysadmin (securityadmin and serveradmin do not include
    // dbcreator) the install login may not drop the old database.
    same(E, GrantSysadmin, kOldData, NoDrop, Drop);
    same(E, GrantSecurityadmin, kInstalled, NoBox, Reconfigure6);
    same(E, GrantServeradmin, kNewUser, Injected);
    const Expect refused{kConnect, Injected, None};
    r.push_back({E, AdminLogon, refused, refused});
    same(E, InstallLogon, kRelogon, Injected, GrantServeradmin);
    // The backup is checked before anything changes.
    same(E, HeaderList, kLoad, Injected);
    same(E, FileList, kLoad, Injected);

    // After a lost connection every later statement fails in the client
    // without reaching the server. Before the existence query has answered
    // the run takes the database for missing and goes on to the next checked
    // statement, the serveradmin grant, which fails with the driver's text:
    // -6. After it the verification of the backup fails before anything
    // changes.
    for (Step check : {Collation, Sysadmin, ExistenceQuery}) {
      same(D, check, kNewUser, LostBefore + "\n" + LostBefore);
      r.back().fresh = true;
    }
    for (Step check : {FolderCheck, ServerFiles, DataFileCheck, LogFileCheck, FixedDrives})
      same(D, check, kLoad, LostBefore);
    same(D, Verify, kLoad, LostHere);
    same(D, Copy, kOldData, NoCopy + LostHere);
    same(D, Drop, kOldData, LostHere);
    same(D, DropLogin, kNewUser, LostBefore + "\n" + LostBefore);
    same(D, AddLogin, kNewUser, LostHere + "\n" + LostBefore);
    same(D, GrantSysadmin, kNewUser, LostBefore);
    same(D, GrantSecurityadmin, kNewUser, LostBefore);
    same(D, GrantServeradmin, kNewUser, LostHere);
    const Expect lost{kConnect, LostAtLogon + kUnreachableHint, None};
    r.push_back({D, AdminLogon, lost, lost});
    same(D, InstallLogon, kRelogon, LostAtLogon, GrantServeradmin);
    same(D, HeaderList, kLoad, LostHere);
    same(D, FileList, kLoad, LostHere);
    same(D, WindowsOnly, kLoad, LostBefore, WindowsOnly);

    // Past the drop the box also names the copy of the old database.
    for (const auto& [kind, detail] : {std::pair{E, Injected}, std::pair{D, LostHere}}) {
      for (const auto& [step, ending] : {std::pair{Create, kCreate},
                                         {DefaultDb, kRights},
                                         {Restore, kLoad},
                                         {AllowUpdatesOn, config(1)},
                                         {Reconfigure2, config(2)},
                                         {AllowUpdatesOff, config(5)},
                                         {Reconfigure6, config(6)}}) {
        same(kind, step, ending, detail);
        r.back().mss2000.names_copy = r.back().mss7.names_copy = true;
      }
    }

    // Under a password policy sp_addlogin is refused and CREATE LOGIN takes
    // its place; its failure, too, shows only at the last grant, after the
    // refusal that led to it.
    same(E, CreateLogin, kNewUser, Policy + Injected + "\n" + NoLogin, GrantServeradmin);
    r.back().policy = true;
    same(D, CreateLogin, kNewUser, Policy + LostHere + "\n" + LostBefore);
    r.back().policy = true;
    return r;
  }();
  return rows;
}

// The stand-in's options that cause the fault.
std::vector<std::string> fault_args(const Case& c) {
  std::vector<std::string> args = {"--database", kDbName};
  if (c.policy) args.insert(args.end(), {"--profile", "2022", "--domain-password-policy"});
  const bool logon = c.target >= AdminLogon;
  const std::string at =
      logon ? (c.target == AdminLogon ? "^sa$" : "^zq$")
            : std::to_string(nth(c.target)) + ":^" + regex_literal(prefix(c.target));
  if (c.kind == Kind::Dropped)
    args.insert(args.end(), {logon ? "--drop-login" : "--drop-at-nth", at});
  else
    args.insert(args.end(), {logon ? "--fail-login" : "--fail-nth",
                             at + ":" + std::to_string(c.number) + ":" + Detail::Injected});
  return args;
}

// Whether the server's log shows the fault as it was meant to happen: the
// target's first logon, or its nth statement, dropped or failing with the
// injected error.
bool fault_fired(const Case& c, const std::vector<json>& log) {
  const bool logon = c.target >= AdminLogon;
  int matches = 0;
  for (const json& e : log) {
    const bool hit = logon ? e.value("type", "") == "login" &&
                                 e.value("user", "") == (c.target == AdminLogon ? "sa" : "zq")
                           : e.value("statement", "").rfind(prefix(c.target), 0) == 0;
    if (!hit || ++matches != (logon ? 1 : nth(c.target))) continue;
    if (c.kind == Kind::Dropped) return e.value("dropped", false);
    const json& errors = logon ? e : e.value("outcome", json::object());
    return errors.value("errors", json()) == json::array({c.number});
  }
  return false;
}

using Param = std::tuple<Page, size_t>;

class FaultMatrix : public ::testing::TestWithParam<Param> {};

TEST_P(FaultMatrix, EndsAsTheStageDefines) {
  const Page edition = std::get<0>(GetParam());
  const Case& c = cases()[std::get<1>(GetParam())];
  const Expect& want = edition == Page::mss7 ? c.mss7 : c.mss2000;
  SCOPED_TRACE(std::string(page_name(edition)) + " " + name(c) + ", expecting code " +
               std::to_string(want.ending.code));

  InstallRun in(edition, fault_args(c));

  EXPECT_EQ(in.run(), want.ending.code);
  // The fault really happened where it was aimed (a pattern that matched
  // nothing would make every row look like a success).
  EXPECT_TRUE(fault_fired(c, in.server.log()));
  // A fault fails at once; a wait of the login or silence timeouts (15 s,
  // 30 minutes) would show.
  EXPECT_LT(in.elapsed, seconds(14)) << "a fault must not make the install wait for a timeout";

  // The failure box, or none; the success message only after a success.
  const auto boxes = in.ok_boxes();
  if (want.ending.head.empty()) {
    EXPECT_TRUE(boxes.empty()) << boxes.front().value;
  } else {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].control, want.ending.title);
    const std::string at = in.copy_of(kDbName, in.server.files_root());
    const std::string copy =
        want.ending.code == 0 ? "\n旧数据库已备份到：" + at
        : want.names_copy     ? "\n\n旧数据库已备份到：" + at +
                                "\n在本程序中选择该文件作为备份文件再次安装，即可恢复旧数据库。"
                          : "";
    EXPECT_EQ(boxes[0].value, want.ending.head + want.detail + copy);
  }
  EXPECT_EQ(in.ui.install_enabled(), want.ending.code != 0);
  EXPECT_EQ(in.ui.statuses().back(), want.ending.status);

  // Logged off, pointer back, no progress bar left showing.
  EXPECT_FALSE(in.sqlca.connected());
  EXPECT_FALSE(in.ui.busy());
  const auto progress = in.progress();
  EXPECT_TRUE(progress.empty() || progress.back() == -1);

  // Nothing was sent after the statement that ended the run: the statements
  // received, each as the prefix it begins with.
  std::vector<std::string> expected, received = in.server.statements();
  for (int s = WindowsOnly; want.last != None && s <= want.last; ++s)
    if ((s != CreateLogin || c.policy) && (!c.fresh || (s != Verify && s != Copy && s != Drop)) &&
        (!disk_check(s) || edition == Page::mss2000))
      expected.push_back(prefix(s));
  for (std::string& statement : received)
    for (int s = WindowsOnly; s < AdminLogon; ++s)
      if (statement.rfind(prefix(s), 0) == 0) statement = prefix(s);
  EXPECT_EQ(received, expected);
}

// Every row in both editions, but the checks of the server's disk, which only
// the 2000 edition makes.
std::vector<Param> params() {
  std::vector<Param> out;
  for (Page e : {Page::mss2000, Page::mss7})
    for (size_t i = 0; i < cases().size(); ++i)
      if (e == Page::mss2000 || !disk_check(cases()[i].target)) out.emplace_back(e, i);
  return out;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(params()),
                         [](const ::testing::TestParamInfo<Param>& info) {
                           return std::string(page_name(std::get<0>(info.param))) + "_" +
                                  name(cases()[std::get<1>(info.param)]);
                         });

}  // namespace
}  // namespace dbsetup::testing
