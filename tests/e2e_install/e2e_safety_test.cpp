// Nothing is lost: through the ODBC driver and the stand-in, every failure
// that can be known is refused before the existing database is touched, and
// an overwrite copies the old database first, so that even a failure after
// the drop can be repaired with this program.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e_install/expected_install.h"
#include "support/install_run.h"

namespace dbsetup::testing {
namespace {

using nlohmann::json;

struct Profile {
  const char* name;
  std::vector<std::string> args;
  const char* version;
};
const Profile k2000{"2000", {}, "8.0"};
const Profile k2022{"2022", {"--profile", "2022"}, "16.0"};
const Profile kLinux{"2022-linux", {"--profile", "2022-linux"}, "16.0"};

TEST(EndToEndSafety, EveryRefusalLeavesTheOldDatabaseAsItWas) {
  struct Row {
    const char* name;
    std::vector<const Profile*> profiles;
    std::vector<std::string> args;
    std::function<void(InstallRun&, const Profile&)> arrange;
    int code;
    std::string explained = "";      // part of the failure box
    bool only_2000_edition = false;  // the 7.0 edition takes the names from the backup
  };
  const auto backup = [](std::function<void(StandinServer::BackupOptions&)> set) {
    return [=](InstallRun& in, const Profile& p) {
      StandinServer::BackupOptions o;
      o.version = p.version;
      set(o);
      in.backup = in.server.make_backup(kDbName, "nuvex_Data", "nuvex_Log", o);
      in.fields().backup = in.backup;
    };
  };
  const std::vector<Row> rows = {
      {"missing data folder, not to be created",
       {&k2000, &k2022, &kLinux},
       {},
       [](InstallRun& in, const Profile&) {
         in.fields().data_folder = in.server.files_root() + "/mistyped";
         in.ui.answer = [](const std::string&, const std::string& text, int) {
           return text.find("是否由服务器创建该目录") != std::string::npos ? kNo : kYes;
         };
       },
       -2},
      {"data folder that is a file",
       {&k2022, &kLinux},
       {},
       [](InstallRun& in, const Profile&) { in.fields().data_folder = in.backup; },
       -8},
      {"mistyped backup path",
       {&k2000, &kLinux},
       {},
       [](InstallRun& in, const Profile&) {
         in.fields().backup = in.server.files_root() + "/nuvx.bak";
       },
       -10,
       "nuvx.bak"},
      {"unreadable backup",
       {&k2022, &kLinux},
       {"--unreadable-backups"},
       nullptr,
       -10,
       "Operating system error 5(Access is denied.)"},
      {"backup of SQL Server 2000",
       {&k2022},
       {},
       backup([](StandinServer::BackupOptions& o) { o.version = "8.0"; }),
       -10,
       "不能直接还原。请先在 SQL Server 2005 至 2008 R2 上还原该备份并重新备份。"},
      {"backup cut short",
       {&k2000, &k2022, &kLinux},
       {},
       backup([](StandinServer::BackupOptions& o) { o.truncated_at = 60; }),
       -10},
      {"differential backup",
       {&k2022},
       {},
       backup([](StandinServer::BackupOptions& o) { o.type = "differential"; }),
       -10},
      {"full-text catalog in the backup",
       {&k2022},
       {},
       backup([](StandinServer::BackupOptions& o) { o.files = {"F:nuvex_ft"}; }),
       -10},
      {"no room on the drive",
       {&k2022},
       {"--drive", "D:0:D"},
       [](InstallRun& in, const Profile&) {
         std::filesystem::create_directories(in.server.files_root() + "/D/Data");
         in.fields().data_folder = "D:\\Data";
       },
       -10},
      {"administrator without sysadmin",
       {&k2000, &k2022},
       {"--login", "sa:SECRET:dbcreator,securityadmin"},
       nullptr,
       -6},
      {"logical name in another letter case on a case-sensitive server",
       {&k2022},
       {"--case-sensitive"},
       [](InstallRun& in, const Profile&) { in.gs.gs_database_data = "NUVEX_DATA"; },
       -10,
       "",
       true},
      {"an install login that cannot be replaced",
       {&k2000, &k2022},
       {"--login", "sa:SECRET:sysadmin", "--login", "zq:other", "--fail",
        "^sp_droplogin:15174:Login 'zq' owns one or more database(s)."},
       nullptr,
       -7},
  };
  for (const Row& row : rows) {
    for (const Profile* p : row.profiles) {
      for (Page e : {Page::mss2000, Page::mss7}) {
        if (row.only_2000_edition && e == Page::mss7) continue;
        SCOPED_TRACE(std::string(row.name) + " on " + p->name + ", " + page_name(e));
        // An install over the existing database "nuvex" (both editions
        // install that name here).
        InstallRun in(e, joined(p->args, {"--database", kDbName}, row.args));
        if (row.arrange) row.arrange(in, *p);
        const json before = databases(in.server);
        EXPECT_EQ(in.run(), row.code) << in.failure_text();
        EXPECT_NE(in.failure_text().find(row.explained), std::string::npos) << in.failure_text();
        EXPECT_EQ(databases(in.server), before);
        EXPECT_EQ(in.server.count("Drop DATABASE"), 0u);
        EXPECT_TRUE(in.ui.install_enabled());
      }
    }
  }
}

TEST(EndToEndSafety, WhatTheChecksFindMissingIsMadeGood) {
  for (const Profile* p : {&k2022, &kLinux}) {
    SCOPED_TRACE(p->name);
    // A data folder the server creates on Yes, and a backup with a further
    // data file, which goes there too.
    InstallRun in(Page::mss2000, p->args);
    StandinServer::BackupOptions o;
    o.version = p->version;
    o.files = {"D:nuvex_Index"};
    in.backup = in.server.make_backup(kDbName, "nuvex_Data", "nuvex_Log", o);
    in.fields().backup = in.backup;
    const std::string folder = in.server.files_root() + "/new/data";
    in.fields().data_folder = folder;
    EXPECT_EQ(in.run(), 0) << in.failure_text();
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    const json db = find(in.server, "databases", kDbName);
    ASSERT_EQ(db["files"].size(), 3u) << db.dump(2);
    EXPECT_EQ(db["files"][2]["physical"], folder + "\\nuvex_nuvex_Index.NDF");
    EXPECT_EQ(db["status"], "ONLINE");
    EXPECT_EQ(in.server.count("RESTORE VERIFYONLY") + in.server.count("BACKUP DATABASE"),
              0u);  // a fresh install
  }
}

// The old database is copied before it is dropped; when the install fails
// after the drop, installing the copy brings the old database back.
TEST(EndToEndSafety, AFailureAfterTheDropIsRepairedWithTheCopy) {
  for (const Profile* p : {&k2000, &k2022, &kLinux}) {
    for (Page e : {Page::mss2000, Page::mss7}) {
      SCOPED_TRACE(std::string(p->name) + ", " + page_name(e));
      // The shop's database as this program installed it, then an install
      // whose restore breaks off.
      InstallRun first(e, joined(p->args, {"--fail-nth", "2:^RESTORE DATABASE:3203:Read failed."}));
      ASSERT_EQ(first.run(), 0) << first.failure_text();
      const json installed = find(first.server, "databases", kDbName);
      first.ui.set_install_enabled(true);

      const std::size_t before = first.server.statements().size();
      EXPECT_EQ(first.run(), -10);
      const std::string copy = first.copy_of(kDbName, first.server.files_root());
      EXPECT_NE(first.failure_text().find("旧数据库已备份到：" + copy), std::string::npos)
          << first.failure_text();
      const auto sent = first.server.statements();
      const auto at = [&](const std::string& prefix) {
        for (std::size_t i = before; i < sent.size(); ++i)
          if (sent[i].rfind(prefix, 0) == 0) return i;
        return sent.size();
      };
      EXPECT_LT(at("BACKUP DATABASE"), at("Drop DATABASE"));
      EXPECT_LT(at("Drop DATABASE"), sent.size());

      // The copy as the backup file, a while later: the old database is back.
      first.fields().backup = copy;
      first.clock.time.minute += 10;
      EXPECT_EQ(first.run(), 0) << first.failure_text();
      const json repaired = find(first.server, "databases", kDbName);
      EXPECT_EQ(repaired["status"], "ONLINE");
      EXPECT_EQ(repaired["files"], installed["files"]);
    }
  }
}

}  // namespace
}  // namespace dbsetup::testing
