// Every statement and logon of a full install (over an existing database,
// confirmed with Yes), once failing with a server error and once losing the
// connection, in both editions. Each case must end the way the procedure
// defines for that stage: return code, failure box, status line, logoff,
// and nothing sent to the server after the stage that failed.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "support/install_run.h"

namespace dbsetup::testing {
namespace {

using nlohmann::json;
using std::chrono::seconds;

// What the server receives during a full install, in order. The logons are
// not statements; they are targets of faults only.
enum class Step {
  HeaderList,
  FileList,
  Exists,
  Drop,
  DropLogin,
  AddLogin,
  CreateLogin,  // only where the password policy refuses sp_addlogin
  GrantSysadmin,
  GrantSecurityadmin,
  GrantServeradmin,
  Create,
  DefaultDb,
  Restore,
  AllowOn,
  Reconfigure2,
  AllowOff,
  Reconfigure6,
  AdminLogon,
  InstallLogon,
  None,  // nothing reaches the server
};

struct StepText {
  Step step;
  const char* prefix;  // how the statement text begins
  const char* regex;   // a pattern that matches it and no other statement
  int nth;             // which match of the pattern
};

constexpr std::array<StepText, 17> kStatements = {{
    {Step::HeaderList, "RESTORE HEADERONLY", "^RESTORE HEADERONLY", 1},
    {Step::FileList, "RESTORE FILELISTONLY", "^RESTORE FILELISTONLY", 1},
    {Step::Exists, "SELECT name FROM sysdatabases", "^SELECT name FROM sysdatabases", 1},
    {Step::Drop, "Drop DATABASE", "^Drop DATABASE", 1},
    {Step::DropLogin, "sp_droplogin", "^sp_droplogin", 1},
    {Step::AddLogin, "sp_addlogin", "^sp_addlogin", 1},
    {Step::CreateLogin, "CREATE LOGIN", "^CREATE LOGIN", 1},
    {Step::GrantSysadmin, "sp_addsrvrolemember N'zq', sysadmin", ", sysadmin$", 1},
    {Step::GrantSecurityadmin, "sp_addsrvrolemember N'zq', securityadmin", ", securityadmin$", 1},
    {Step::GrantServeradmin, "sp_addsrvrolemember N'zq', serveradmin", ", serveradmin$", 1},
    {Step::Create, "CREATE DATABASE", "^CREATE DATABASE", 1},
    {Step::DefaultDb, "exec sp_defaultdb", "sp_defaultdb", 1},
    {Step::Restore, "RESTORE DATABASE", "^RESTORE DATABASE", 1},
    {Step::AllowOn, "sp_configure 'allow updates',1", "allow updates',1$", 1},
    {Step::Reconfigure2, "RECONFIGURE WITH OVERRIDE", "^RECONFIGURE", 1},
    {Step::AllowOff, "sp_configure 'allow updates',0", "allow updates',0$", 1},
    // The second RECONFIGURE: the first match passes.
    {Step::Reconfigure6, "RECONFIGURE WITH OVERRIDE", "^RECONFIGURE", 2},
}};

const StepText& text_of(Step step) {
  return *std::find_if(kStatements.begin(), kStatements.end(),
                       [&](const StepText& t) { return t.step == step; });
}

// Failure output names the steps.
void PrintTo(Step step, std::ostream* os) {
  if (step == Step::AdminLogon)
    *os << "the administrator's logon";
  else if (step == Step::InstallLogon)
    *os << "the install login's logon";
  else if (step == Step::None)
    *os << "nothing";
  else
    *os << '"' << text_of(step).prefix << (step == Step::Reconfigure6 ? "\" (step 6)" : "\"");
}

// The statements of a full install over an existing database, the same in
// both editions; CREATE LOGIN only on a server with a password policy.
std::vector<Step> full_install(bool policy) {
  std::vector<Step> out;
  for (const StepText& t : kStatements)
    if (t.step != Step::CreateLogin || policy) out.push_back(t.step);
  return out;
}

// The steps as the server's log shows them; a RECONFIGURE is counted as step
// 2 or 6 by its order.
std::vector<Step> received(const testing::StandinServer& server) {
  std::vector<Step> out;
  int reconfigures = 0;
  for (const std::string& statement : server.statements()) {
    Step step = Step::None;
    for (const StepText& t : kStatements)
      if (statement.rfind(t.prefix, 0) == 0 && step == Step::None) step = t.step;
    if (step == Step::Reconfigure2 && ++reconfigures == 2) step = Step::Reconfigure6;
    out.push_back(step);
  }
  return out;
}

// How a case must end.
struct Ending {
  int code;
  bool box;            // a failure box is shown (2000's failed first logon shows none)
  std::string title;   // of the failure box
  std::string head;    // the box text before the error text
  std::string status;  // the status line at the end
};

Ending stage(int code, const std::string& short_text, const std::string& title = kAppName) {
  return {code, true, title, short_text + "\r\n\n错误信息:", short_text};
}

const Ending kInstalled{0, false, "", "", kSuccess};
const Ending kConnect2000{-1, false, "", "", "连接数据库失败!"};
const Ending kConnect7 = stage(-1, "连接数据库失败!");
const Ending kOldData = stage(-3, "检测旧数据失败!", "检测旧数据失败!");
const Ending kNewUser = stage(-6, "创建新用户失败!");
const Ending kRelogon = stage(-7, "重新登录数据库失败!");
const Ending kCreate = stage(-8, "创建数据库失败!");
const Ending kRights = stage(-9, "更改数据库权限失败!");
const Ending kLoad = stage(-10, "装载数据失败!");
Ending config(int step) {
  return stage(-10 - step, "修改数据配置" + std::to_string(step) + "失败!");
}

constexpr const char* kInjected = "Injected failure of this statement.";
constexpr int kInjectedNumber = 50000;
constexpr const char* kTooShort =
    "Password validation failed. The password does not meet the operating system policy "
    "requirements because it is too short.";

// The error text at the end of the failure box: the driver's own words for a
// connection that is gone, the server's where its state decides.
namespace Detail {
const std::string Injected = kInjected;
const std::string LostHere = "Unexpected EOF from the server";  // closed while waiting
const std::string LostBefore = "Communication link failure";    // found already gone
const std::string LostAtLogon = LostHere + "\nAdaptive Server connection failed";
const std::string Exists = "Database 'nuvex' already exists. Choose a different database name.";
const std::string NoLogin = "'zq' is not a valid login or you do not have permission.";
// The failed creation of the install login, then the failed grant.
const std::string InjectedThenNoLogin = Injected + "\n" + NoLogin;
const std::string LostHereThenLostBefore = LostHere + "\n" + LostBefore;
const std::string LostBeforeTwice = LostBefore + "\n" + LostBefore;
// The policy's refusal of sp_addlogin, the failed CREATE LOGIN, the grant.
const std::string PolicyInjectedNoLogin = std::string(kTooShort) + "\n" + InjectedThenNoLogin;
const std::string PolicyLostHereLostBefore = std::string(kTooShort) + "\n" + LostHereThenLostBefore;
const std::string NoPermission = "CREATE DATABASE permission denied in database 'master'.";
const std::string None;  // no failure box
}  // namespace Detail

struct Expect {
  Ending ending;
  Step last;  // the last statement the server receives
  std::string detail;
  bool drop_skipped = false;  // no database was found, so none was dropped
};

enum class Kind { ServerError, Dropped };

struct Case {
  const char* name;
  Kind kind;
  Step target;
  Expect mss2000;
  Expect mss7;
  int number = kInjectedNumber;
  bool policy = false;  // SQL Server 2022 with a domain's password policy
};

Expect ends(const Ending& e, Step last, const std::string& detail) { return {e, last, detail}; }

// One row per fault. Where the procedure ignores a statement's outcome the run
// goes on; it then ends where the server's state (or a connection that is
// gone) makes the next checked statement fail.
const std::vector<Case>& cases() {
  static const std::vector<Case> rows = [] {
    std::vector<Case> r;
    auto add = [&](const char* name, Kind kind, Step target, Expect e2000, Expect e7) {
      r.push_back({name, kind, target, e2000, e7});
    };
    auto same = [&](const char* name, Kind kind, Step target, Expect e) {
      add(name, kind, target, e, e);
    };
    const Kind E = Kind::ServerError;
    const Kind D = Kind::Dropped;

    // A failed existence query counts as "no such database": nothing is asked
    // or dropped, and CREATE DATABASE then meets the old database.
    Expect exists_failed = ends(kCreate, Step::Create, Detail::Exists);
    exists_failed.drop_skipped = true;
    same("ServerErrorAtExistenceQuery", E, Step::Exists, exists_failed);
    same("ServerErrorAtDrop", E, Step::Drop, ends(kOldData, Step::Drop, Detail::Injected));
    // 5105 (device activation error) does not count as a failed drop for
    // 7.0; the database is still there, so CREATE DATABASE fails.
    add("ServerError5105AtDrop", E, Step::Drop, ends(kOldData, Step::Drop, Detail::Injected),
        ends(kCreate, Step::Create, Detail::Exists));
    r.back().number = 5105;
    same("ServerErrorAtDropLogin", E, Step::DropLogin,
         ends(kInstalled, Step::Reconfigure6, Detail::None));
    // The login is never created, so the last grant fails on it.
    same("ServerErrorAtAddLogin", E, Step::AddLogin,
         ends(kNewUser, Step::GrantServeradmin, Detail::InjectedThenNoLogin));
    // Without sysadmin (securityadmin and serveradmin do not include
    // dbcreator) the install login may not create the database.
    same("ServerErrorAtGrantSysadmin", E, Step::GrantSysadmin,
         ends(kCreate, Step::Create, Detail::NoPermission));
    same("ServerErrorAtGrantSecurityadmin", E, Step::GrantSecurityadmin,
         ends(kInstalled, Step::Reconfigure6, Detail::None));
    same("ServerErrorAtGrantServeradmin", E, Step::GrantServeradmin,
         ends(kNewUser, Step::GrantServeradmin, Detail::Injected));
    add("ServerErrorAtAdminLogon", E, Step::AdminLogon,
        ends(kConnect2000, Step::None, Detail::None),
        ends(kConnect7, Step::None, Detail::Injected));
    same("ServerErrorAtInstallLogon", E, Step::InstallLogon,
         ends(kRelogon, Step::GrantServeradmin, Detail::Injected));
    same("ServerErrorAtCreate", E, Step::Create, ends(kCreate, Step::Create, Detail::Injected));
    same("ServerErrorAtDefaultDb", E, Step::DefaultDb,
         ends(kRights, Step::DefaultDb, Detail::Injected));
    same("ServerErrorAtRestore", E, Step::Restore, ends(kLoad, Step::Restore, Detail::Injected));
    same("ServerErrorAtAllowUpdatesOn", E, Step::AllowOn,
         ends(config(1), Step::AllowOn, Detail::Injected));
    same("ServerErrorAtReconfigure2", E, Step::Reconfigure2,
         ends(config(2), Step::Reconfigure2, Detail::Injected));
    same("ServerErrorAtAllowUpdatesOff", E, Step::AllowOff,
         ends(config(5), Step::AllowOff, Detail::Injected));
    same("ServerErrorAtReconfigure6", E, Step::Reconfigure6,
         ends(config(6), Step::Reconfigure6, Detail::Injected));
    // The backup is checked before anything changes.
    same("ServerErrorAtHeaderList", E, Step::HeaderList,
         ends(kLoad, Step::HeaderList, Detail::Injected));
    same("ServerErrorAtFileList", E, Step::FileList, ends(kLoad, Step::FileList, Detail::Injected));

    // After a lost connection every later statement fails in the client
    // without reaching the server. An ignored stage therefore runs on to the
    // next checked statement, the serveradmin grant, which fails with the
    // driver's text: -6.
    same("DroppedAtExistenceQuery", D, Step::Exists,
         ends(kNewUser, Step::Exists, Detail::LostBeforeTwice));
    r.back().mss2000.drop_skipped = r.back().mss7.drop_skipped = true;
    same("DroppedAtDrop", D, Step::Drop, ends(kOldData, Step::Drop, Detail::LostHere));
    same("DroppedAtDropLogin", D, Step::DropLogin,
         ends(kNewUser, Step::DropLogin, Detail::LostBeforeTwice));
    same("DroppedAtAddLogin", D, Step::AddLogin,
         ends(kNewUser, Step::AddLogin, Detail::LostHereThenLostBefore));
    same("DroppedAtGrantSysadmin", D, Step::GrantSysadmin,
         ends(kNewUser, Step::GrantSysadmin, Detail::LostBefore));
    same("DroppedAtGrantSecurityadmin", D, Step::GrantSecurityadmin,
         ends(kNewUser, Step::GrantSecurityadmin, Detail::LostBefore));
    same("DroppedAtGrantServeradmin", D, Step::GrantServeradmin,
         ends(kNewUser, Step::GrantServeradmin, Detail::LostHere));
    add("DroppedAtAdminLogon", D, Step::AdminLogon, ends(kConnect2000, Step::None, Detail::None),
        ends(kConnect7, Step::None, Detail::LostAtLogon));
    same("DroppedAtInstallLogon", D, Step::InstallLogon,
         ends(kRelogon, Step::GrantServeradmin, Detail::LostAtLogon));
    same("DroppedAtCreate", D, Step::Create, ends(kCreate, Step::Create, Detail::LostHere));
    same("DroppedAtDefaultDb", D, Step::DefaultDb,
         ends(kRights, Step::DefaultDb, Detail::LostHere));
    same("DroppedAtRestore", D, Step::Restore, ends(kLoad, Step::Restore, Detail::LostHere));
    same("DroppedAtAllowUpdatesOn", D, Step::AllowOn,
         ends(config(1), Step::AllowOn, Detail::LostHere));
    same("DroppedAtReconfigure2", D, Step::Reconfigure2,
         ends(config(2), Step::Reconfigure2, Detail::LostHere));
    same("DroppedAtAllowUpdatesOff", D, Step::AllowOff,
         ends(config(5), Step::AllowOff, Detail::LostHere));
    same("DroppedAtReconfigure6", D, Step::Reconfigure6,
         ends(config(6), Step::Reconfigure6, Detail::LostHere));
    same("DroppedAtHeaderList", D, Step::HeaderList,
         ends(kLoad, Step::HeaderList, Detail::LostHere));
    same("DroppedAtFileList", D, Step::FileList, ends(kLoad, Step::FileList, Detail::LostHere));

    // Under a password policy sp_addlogin is refused and CREATE LOGIN takes
    // its place; its failure, too, shows only at the last grant, after the
    // refusal that led to it.
    same("ServerErrorAtCreateLogin", E, Step::CreateLogin,
         ends(kNewUser, Step::GrantServeradmin, Detail::PolicyInjectedNoLogin));
    r.back().policy = true;
    same("DroppedAtCreateLogin", D, Step::CreateLogin,
         ends(kNewUser, Step::CreateLogin, Detail::PolicyLostHereLostBefore));
    r.back().policy = true;
    return r;
  }();
  return rows;
}

// The stand-in's options that cause the fault.
std::vector<std::string> fault_args(const Case& c) {
  std::vector<std::string> args = {"--database", kDbName};
  if (c.policy) args.insert(args.end(), {"--profile", "2022", "--domain-password-policy"});
  if (c.target == Step::AdminLogon || c.target == Step::InstallLogon) {
    const std::string who = c.target == Step::AdminLogon ? "^sa$" : "^zq$";
    if (c.kind == Kind::ServerError) {
      args.insert(args.end(),
                  {"--fail-login", who + ":" + std::to_string(c.number) + ":" + kInjected});
    } else {
      args.insert(args.end(), {"--drop-login", who});
    }
    return args;
  }
  const StepText& t = text_of(c.target);
  const std::string nth = std::to_string(t.nth) + ":" + t.regex;
  if (c.kind == Kind::ServerError)
    args.insert(args.end(), {"--fail-nth", nth + ":" + std::to_string(c.number) + ":" + kInjected});
  else
    args.insert(args.end(), {"--drop-at-nth", nth});
  return args;
}

// Whether the server's log shows the fault as it was meant to happen.
bool fault_fired(const Case& c, const std::vector<json>& log) {
  const bool logon = c.target == Step::AdminLogon || c.target == Step::InstallLogon;
  const std::string who = c.target == Step::AdminLogon ? "sa" : "zq";
  int matches = 0;
  for (const json& e : log) {
    if (logon) {
      if (e.value("type", "") != "login" || e.value("user", "") != who) continue;
      if (c.kind == Kind::Dropped) {
        if (e.value("dropped", false)) return true;
      } else if (!e.value("ok", true) && e.contains("errors") &&
                 e["errors"] == json::array({c.number})) {
        return true;
      }
      continue;
    }
    const std::string statement = e.value("statement", "");
    if (statement.rfind(text_of(c.target).prefix, 0) != 0) continue;
    if (++matches != text_of(c.target).nth) continue;
    if (c.kind == Kind::Dropped) return e.value("dropped", false);
    return e.contains("outcome") && e["outcome"]["errors"] == json::array({c.number});
  }
  return false;
}

using Param = std::tuple<Edition, size_t>;

class FaultMatrix : public ::testing::TestWithParam<Param> {};

TEST_P(FaultMatrix, EndsAsTheStageDefines) {
  const Edition edition = std::get<0>(GetParam());
  const Case& c = cases()[std::get<1>(GetParam())];
  const Expect& want = edition == Edition::mss7 ? c.mss7 : c.mss2000;
  SCOPED_TRACE(std::string(edition_name(edition)) + " " + c.name + ", expecting code " +
               std::to_string(want.ending.code));

  InstallRun in(edition, fault_args(c));
  if (c.policy) {  // a backup SQL Server 2022 restores
    in.backup = in.server.make_backup(kDbName, "nuvex_Data", "nuvex_Log", "16.0");
    in.field("data_backupfile", in.backup);
  }
  const int code = in.run();
  const auto log = in.server.log();

  // The fault really happened where it was aimed (a pattern that matched
  // nothing would make every row look like a success).
  EXPECT_TRUE(fault_fired(c, log));

  EXPECT_EQ(code, want.ending.code);
  EXPECT_LT(in.elapsed, seconds(10)) << "a fault must not make the install wait";

  // The failure box, or none; the success message only after a success.
  const auto boxes = in.ok_boxes();
  if (want.ending.code == 0) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].control, kAppName);
    EXPECT_EQ(boxes[0].value, kSuccess);
    EXPECT_FALSE(in.ui.install_enabled());
  } else if (!want.ending.box) {
    EXPECT_TRUE(boxes.empty()) << boxes.front().value;
  } else {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].control, want.ending.title);
    const std::string& text = boxes[0].value;
    ASSERT_EQ(text.rfind(want.ending.head, 0), 0u) << text;
    EXPECT_EQ(text.substr(want.ending.head.size()), want.detail);
    EXPECT_TRUE(in.ui.install_enabled());
  }
  EXPECT_EQ(in.ui.statuses().back(), want.ending.status);

  // Logged off, pointer back, no progress bar left showing.
  EXPECT_FALSE(in.sqlca.connected());
  EXPECT_FALSE(in.ui.busy());
  const auto progress = in.progress();
  if (!progress.empty()) {
    EXPECT_EQ(progress.back(), -1);
  }

  // Nothing was sent after the statement that ended the run.
  std::vector<Step> expected;
  if (want.last != Step::None) {
    for (Step s : full_install(c.policy)) {
      if (s == Step::Drop && want.drop_skipped) continue;
      expected.push_back(s);
      if (s == want.last) break;
    }
  }
  EXPECT_EQ(received(in.server), expected);
}

std::vector<Param> all_params() {
  std::vector<Param> out;
  for (Edition e : {Edition::mss2000, Edition::mss7})
    for (size_t i = 0; i < cases().size(); ++i) out.emplace_back(e, i);
  return out;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(all_params()),
                         [](const ::testing::TestParamInfo<Param>& info) {
                           return std::string(edition_name(std::get<0>(info.param))) + "_" +
                                  cases()[std::get<1>(info.param)].name;
                         });

}  // namespace
}  // namespace dbsetup::testing
