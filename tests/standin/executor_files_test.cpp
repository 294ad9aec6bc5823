// The server's disk as the installer's checks see it: the extended procedures
// on files and drives, the files tables, free space, BACKUP DATABASE and
// RESTORE VERIFYONLY, and the backups a RESTORE refuses.

#include <gtest/gtest.h>

#include <fstream>

#include "executor_harness.h"

namespace fs = std::filesystem;

namespace standin {
namespace {

const Cell i0{int64_t{0}}, i1{int64_t{1}};

class ServerDisk : public harness::ExecutorHarness {
 protected:
  // A server of that profile with drive D: (free_mb) rooted at root_/D, empty.
  void server(const std::string& profile, int64_t free_mb = 100,
              const std::function<void(StateOptions&)>& adjust = {}) {
    fs::remove_all(root_ + "/D");
    StateOptions o;
    o.profile = *profile_named(profile);
    o.drives = {{'D', free_mb << 20, root_ + "/D"}};
    o.model_size_mb = 1;  // small databases on every profile
    if (adjust) adjust(o);
    start(o);
    state_->add_login("joe", "pw", {"dbcreator"});
  }
  // The first error's number, class and text; 0 and "" when there is none.
  std::tuple<int, int, std::string> error(const std::string& sql, const std::string& login = "sa") {
    auto m = run(sql, login).first_error();
    return {m.number, m.cls, m.text};
  }
  std::string restore(const std::string& db, const std::string& bak, const std::string& dir,
                      const std::string& extra = "") {
    return "RESTORE DATABASE [" + db + "] FROM DISK = N'" + bak +
           "' WITH FILE = 1, STATS = 10, REPLACE, MOVE N'tavox_data' TO N'" + dir + db +
           "_Data.MDF', MOVE N'tavox_log' TO N'" + dir + db + "_Log.LDF'" + extra;
  }
  // tavox's backup: a full one unless changed by `edit`, cut at `percent`.
  std::string backup(const std::function<void(Backup&)>& edit = {}, int percent = 100) {
    Backup b = make_backup("tavox", "tavox_data", "tavox_log");
    set_backup_version(b, state_->settings().profile.major < 9 ? "8.0" : "15.0");
    if (edit) edit(b);
    EXPECT_TRUE(write_backup_file(root_ + "/tavox.bak", b, percent));
    return root_ + "/tavox.bak";
  }
  int64_t free_mb(char letter) { return state_->drive(letter)->free_bytes >> 20; }
};

TEST_F(ServerDisk, FileExistAndCreateSubdirOnEachServer) {
  for (const std::string profile : {"2000", "2022", "2022-linux"}) {
    SCOPED_TRACE(profile);
    server(profile);
    std::ofstream(root_ + "/D/file.txt") << "x";
    const bool today = profile != "2000";
    const std::vector<std::pair<std::string, Row>> seen = {
        {"D:\\", {i0, i1, i0}},          // the drive's root
        {"D:\\file.txt", {i1, i0, i1}},  // a file
        {"D:\\Data\\", {i0, i0, i1}},    // a missing folder
        {"D:\\Data\\Shop\\x.mdf", {i0, i0, i0}},
        {"E:\\Data", {i0, i0, i0}},  // a drive this machine lacks
        {"C:\\Program Files\\Microsoft SQL Server\\MSSQL\\Data", {i0, i1, i1}},  // recorded
        {"C:\\Elsewhere", {i0, i0, i1}},
        {root_ + "\\", {i0, i1, i1}}};  // the files root itself, as a path without a letter
    for (const auto& [path, row] : seen)
      EXPECT_EQ(run("EXEC master.dbo.xp_fileexist N'" + path + "'").rows(), std::vector<Row>{row})
          << path;
    std::vector<std::string> names;
    for (const auto& c : run("EXEC master.dbo.xp_fileexist N'D:\\'").first_set().columns)
      names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"File Exists", "File is a Directory",
                                               "Parent Directory Exists"}));
    // Other logins see nothing from 2005 on.
    EXPECT_EQ(run("EXEC master.dbo.xp_fileexist N'D:\\file.txt'", "joe").rows(),
              (std::vector<Row>{today ? Row{i0, i0, i0} : Row{i1, i0, i1}}));

    if (!today) {
      EXPECT_EQ(error("EXEC master.dbo.xp_create_subdir N'D:\\Data'"),
                std::make_tuple(2812, 16,
                                std::string("Could not find stored procedure "
                                            "'master.dbo.xp_create_subdir'.")));
      continue;
    }
    const std::string no_path = "The system cannot find the path specified.";
    const std::vector<std::tuple<std::string, int, std::string>> subdirs = {
        {"D:\\Data\\Shop\\2024", 0, ""},
        {"D:\\Data", 0, ""},  // already there
        {"D:\\file.txt", 183, "Cannot create a file when that file already exists."},
        {"D:\\file.txt\\sub", 3, no_path},
        {"E:\\Data", 3, no_path},
        {"D:\\" + std::string(5000, 'd'), 206, "The filename or extension is too long."},
        {"C:\\Shop\\Data", 0, ""}};  // outside the files root: only recorded, then seen
    for (const auto& [dir, os, text] : subdirs)
      EXPECT_EQ(error("EXEC master.dbo.xp_create_subdir N'" + dir + "'"),
                std::make_tuple(os ? 22048 : 0, os ? 16 : 0,
                                os ? "xp_create_subdir() returned error " + std::to_string(os) +
                                         ", '" + text + "'"
                                   : ""))
          << dir.substr(0, 20);
    EXPECT_TRUE(fs::is_directory(root_ + "/D/Data/Shop/2024"));
    EXPECT_EQ(std::get<0>(error("EXEC master.dbo.xp_create_subdir N'D:\\x'", "joe")), 229);
    EXPECT_EQ(run("EXEC xp_fileexist N'C:\\Shop\\Data\\'").rows(),
              (std::vector<Row>{{i0, i1, i1}}));
  }
}

TEST_F(ServerDisk, FixedDrivesAndTheRoomCreateDatabaseTakes) {
  server("2022", 3);
  fs::create_directories(root_ + "/D/Data");
  EXPECT_EQ(
      run("EXEC master.dbo.xp_fixeddrives").rows(),
      (std::vector<Row>{{std::string("C"), int64_t{102400}}, {std::string("D"), int64_t{3}}}));
  const std::string too_big = create_sql("big", "D:\\Data\\", 2);  // 2 + 1 MB of 3 fits
  EXPECT_EQ(error(too_big), std::make_tuple(0, 0, std::string()));
  EXPECT_EQ(free_mb('D'), 0);
  auto full = run(create_sql("more", "D:\\Data\\"));
  EXPECT_EQ(full.numbers(), (std::vector<int>{5149, 1802}));
  EXPECT_EQ(full.first_error().text,
            "MODIFY FILE encountered operating system error 112(There is not enough space on the "
            "disk.) while attempting to expand the physical file 'D:\\Data\\more_Data.MDF'.");
  EXPECT_TRUE(run("DROP DATABASE big").numbers(true).empty());
  EXPECT_EQ(free_mb('D'), 3);  // given back

  server("2022-linux", 0);
  EXPECT_EQ(
      error("EXEC master.dbo.xp_fixeddrives"),
      std::make_tuple(2812, 16,
                      std::string("Could not find stored procedure 'master.dbo.xp_fixeddrives'.")));
  EXPECT_NE(std::get<2>(error(create_sql("x", "D:\\")))
                .find("error 31(A device attached to the system is not functioning.)"),
            std::string::npos);
  EXPECT_EQ(std::get<0>(error(create_sql("y", "F:\\"))), 5133);  // no such drive
}

TEST_F(ServerDisk, FilesTablesListEveryDatabasesFiles) {
  server("2000");
  fs::create_directories(root_ + "/D/Data");
  run(create_sql("tavox", "D:\\Data\\", 2));
  auto alt = run("SELECT DB_NAME(dbid), filename, size, status FROM master.dbo.sysaltfiles");
  const std::vector<Row> rows = alt.rows();
  ASSERT_EQ(rows.size(), 10u);  // four system databases and tavox, two files each
  const Row& log = rows.back();
  EXPECT_EQ(log[0], Cell{std::string("tavox")});
  std::string padded = "D:\\Data\\tavox_Log.LDF";
  padded.resize(260, ' ');  // nchar(260)
  EXPECT_EQ(log[1], Cell{padded});
  EXPECT_EQ(log[2], Cell{int64_t{128}});
  EXPECT_EQ(std::get<int64_t>(log[3]) & 0x40, 0x40);
  EXPECT_EQ(rows[8][2], Cell{int64_t{256}});  // the data file, 2 MB in 8 KB pages
  EXPECT_EQ(std::get<int64_t>(rows[8][3]) & 0x40, 0);
  EXPECT_EQ(alt.first_set().columns[1].type, ColType::NChar);
  EXPECT_EQ(std::get<0>(error("SELECT name FROM sys.master_files")), 208);  // 2005 and later

  for (const std::string profile : {"2022", "2022-linux"}) {
    server(profile);
    fs::create_directories(root_ + "/D/Data");
    run(create_sql("tavox", "D:\\Data\\"));
    auto alt2 = run("SELECT DB_NAME(dbid), filename FROM master.dbo.sysaltfiles");
    EXPECT_EQ(alt2.rows().back()[1], Cell{std::string("D:\\Data\\tavox_Log.LDF")});
    auto mf = run("SELECT DB_NAME(database_id), physical_name, size, type FROM sys.master_files");
    ASSERT_EQ(mf.rows().size(), 10u);
    EXPECT_EQ(mf.rows().back(), (Row{std::string("tavox"), std::string("D:\\Data\\tavox_Log.LDF"),
                                     int64_t{128}, int64_t{1}}));
  }
}

TEST_F(ServerDisk, BackupDatabaseWritesABackupThatRestores) {
  server("2022", 100);
  fs::create_directories(root_ + "/D/Data");
  fs::create_directories(root_ + "/D/Copy");
  run(create_sql("shop", "D:\\Data\\"));
  auto ok = run("BACKUP DATABASE [shop] TO DISK = N'D:\\Copy\\shop.bak' WITH INIT, STATS = 10");
  EXPECT_TRUE(ok.numbers(true).empty());
  EXPECT_EQ(ok.numbers().size(), 13u);  // ten 3211, a 4035 per file, 3014
  EXPECT_EQ(
      ok.messages().back().text.rfind("BACKUP DATABASE successfully processed 256 pages in ", 0),
      0u);
  EXPECT_EQ(free_mb('D'), 100 - 2 - 3);  // the files, then the backup (2 MB and its headers)
  auto header = run("RESTORE HEADERONLY FROM DISK = N'D:\\Copy\\shop.bak'");
  EXPECT_EQ(header.rows().at(0)[9], Cell{std::string("shop")});
  auto back =
      run("RESTORE DATABASE [shop2] FROM DISK = N'D:\\Copy\\shop.bak' WITH MOVE N'shop_data' TO "
          "N'D:\\Data\\shop2.mdf', MOVE N'shop_log' TO N'D:\\Data\\shop2.ldf'");
  EXPECT_TRUE(back.numbers(true).empty());
  EXPECT_EQ(state_->find_database("shop2")->status, "ONLINE");
  EXPECT_EQ(state_->find_database("shop2")->files.at(0).pages, 128);

  state_->find_database("shop2")->status = "RESTORING";
  const std::string to = " TO DISK = N'D:\\Copy\\x.bak' WITH INIT";
  const std::vector<std::tuple<std::string, std::string, int, int, std::string>> refused = {
      {"BACKUP DATABASE [shop2]" + to, "sa", 927, 14,
       "Database 'shop2' cannot be opened. It is in the middle of a restore."},
      {"BACKUP DATABASE [gone]" + to, "sa", 911, 16,
       "Database 'gone' does not exist. Make sure that the name is entered correctly."},
      {"BACKUP DATABASE [shop]" + to, "joe", 262, 14,
       "BACKUP DATABASE permission denied in database 'shop'."},
      {"BACKUP DATABASE [shop] TO DISK = N'D:\\Missing\\x.bak'", "sa", 3201, 16,
       "Cannot open backup device 'D:\\Missing\\x.bak'. Operating system error 3(The system "
       "cannot find the path specified.)."},
      {"BACKUP DATABASE [shop] TO DISK = N'D:\\Data\\shop_Data.MDF'", "sa", 3201, 16,
       "Cannot open backup device 'D:\\Data\\shop_Data.MDF'. Operating system error 32(The "
       "process cannot access the file because it is being used by another process.)."},
      {"BACKUP DATABASE [shop] WITH SNAPSHOT", "sa", 156, 15,
       "Incorrect syntax near the keyword 'WITH'."},
  };
  for (const auto& [sql, login, number, cls, text] : refused) {
    SCOPED_TRACE(sql);
    auto s = run(sql, login);
    EXPECT_EQ(std::make_tuple(s.first_error().number, s.first_error().cls, s.first_error().text),
              std::make_tuple(number, cls, text));
    EXPECT_EQ(s.messages().back().number, number == 156 ? 156 : 3013);
  }

  // A full disk stops the backup part of the way; 2000 words the failure as it did.
  for (const std::string profile : {"2022", "2000"}) {
    server(profile, 2);
    fs::create_directories(root_ + "/D/Full");
    run(create_sql("shop", "D:\\Full\\"));
    auto full = run("BACKUP DATABASE [shop] TO DISK = N'D:\\Full\\shop.bak' WITH INIT, STATS = 10");
    EXPECT_EQ(full.numbers(true), (std::vector<int>{3202, 3013}));
    EXPECT_EQ(full.first_error().text,
              profile == "2000" ? "Write on 'D:\\Full\\shop.bak' failed, status = 112. See the SQL "
                                  "Server error log for more details."
                                : "Write on \"D:\\Full\\shop.bak\" failed: 112(There is not enough "
                                  "space on the disk.)");
    EXPECT_FALSE(fs::exists(root_ + "/D/Full/shop.bak"));
  }
}

TEST_F(ServerDisk, VerifyOnlyReadsTheBackupToItsEnd) {
  const std::string stats =
      "One or more of the options (stats) are not supported for this statement. Review the "
      "documentation for supported options.";
  const std::string cut_2000 =
      "Read on '@' failed, status = 38. See the SQL Server error log for more details.";
  const std::string cut = "Read on \"@\" failed: 38(Reached the end of the file.)";
  struct Case {
    std::string profile;
    bool stats;
    int percent;   // where the file ends
    size_t steps;  // the 3211 progress messages before `numbers`
    std::vector<int> numbers;
    std::string text;  // of the last message but 3013; '@' stands for the backup's path
  };
  const std::vector<Case> cases = {
      {"2000", false, 100, 0, {3262}, "The backup set is valid."},
      {"2000", true, 100, 0, {3032, 3013}, stats},
      {"2000", false, 40, 0, {3203, 3013}, cut_2000},
      {"2022", true, 100, 10, {3262}, "The backup set on file 1 is valid."},
      {"2022-linux", true, 35, 3, {3203, 3013}, cut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile + " " + std::to_string(c.percent));
    server(c.profile);
    const std::string bak = backup({}, c.percent);
    auto s = run("RESTORE VERIFYONLY FROM DISK = N'" + bak + "' WITH FILE = 1" +
                 (c.stats ? ", STATS = 10" : ""));
    std::vector<int> numbers(c.steps, 3211);
    numbers.insert(numbers.end(), c.numbers.begin(), c.numbers.end());
    EXPECT_EQ(s.numbers(), numbers);
    std::string text = c.text;
    if (auto at = text.find('@'); at != std::string::npos) text.replace(at, 1, bak);
    const auto messages = s.messages();
    EXPECT_EQ(messages.at(messages.size() - (c.numbers.back() == 3013 ? 2 : 1)).text, text);
    EXPECT_EQ(messages.back().text,
              c.numbers.back() == 3013 ? "VERIFY DATABASE is terminating abnormally." : text);
  }
}

TEST_F(ServerDisk, RestoreRefusesWhatCannotBeRestored) {
  struct Case {
    std::string profile;
    std::function<void(Backup&)> edit;
    int percent;
    std::string extra;  // after the two MOVE clauses
    std::vector<int> errors;
    std::string text;  // of the first error
  };
  const std::string ndf = "E:\\Old\\tavox_more.ndf";
  auto extra_file = [&](Backup& b) { b.files.push_back({"tavox_more", ndf, 'D', 64}); };
  auto huge = [](Backup& b) { b.files[0].pages = 128 * 200; };
  auto type = [](int t) { return [t](Backup& b) { b.type = t; }; };
  auto os_error = [&](const std::string& error) {
    return "The operating system returned the error '" + error +
           ")' while attempting 'RestoreContainer::ValidateTargetForCreation' on '" + ndf + "'.";
  };
  const std::string no_path = os_error("3(The system cannot find the path specified.");
  const std::string no_file = os_error("2(The system cannot find the file specified.");
  const std::string no_rollforward =
      "The log or differential backup cannot be restored because no files are ready to "
      "rollforward.";
  const std::string no_room =
      "There is insufficient free space on disk volume 'D:\\' to create the database. The "
      "database requires 207634432 additional free bytes, while only 102760448 bytes are "
      "available.";
  const std::string no_device =
      "MODIFY FILE encountered operating system error 31(A device attached to the system is not "
      "functioning.) while attempting to expand the physical file 'D:\\Data\\tavox_Data.MDF'.";
  const std::string more = ", MOVE N'tavox_more' TO N'D:\\Data\\more.ndf'";
  const std::vector<Case> cases = {
      {"2022", type(5), 100, "", {3117, 3013}, no_rollforward},
      {"2000", type(2), 100, "", {3117, 3013}, ""},
      {"2022", extra_file, 100, "", {3634, 3156, 3119, 3013}, no_path},
      {"2022-linux", extra_file, 100, "", {3634, 3156, 3119, 3013}, no_file},
      {"2000", extra_file, 100, "", {5133, 3156, 3119, 3013}, ""},
      {"2022", extra_file, 100, more, {}, ""},
      {"2022", {}, 60, "", {3203, 3013}, ""},
      {"2022", huge, 100, "", {3257, 3119, 3013}, no_room},
      {"2022-linux", huge, 100, "", {5149, 3013}, no_device},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.profile + " " + c.extra + " " + std::to_string(c.errors.size()));
    server(c.profile);
    fs::create_directories(root_ + "/D/Data");
    run(create_sql("tavox", "D:\\Data\\"));  // as the installer does before it restores
    const std::string bak = backup(c.edit, c.percent);
    auto s = run(restore("tavox", bak, "D:\\Data\\", c.extra));
    EXPECT_EQ(s.numbers(true), c.errors);
    EXPECT_EQ(c.text.empty() ? "" : s.first_error().text, c.text);
    const bool started = c.errors.empty() || c.errors[0] == 3203 || c.errors[0] == 5149;
    EXPECT_EQ(state_->find_database("tavox")->status, c.errors.empty() ? "ONLINE"
                                                      : started        ? "RESTORING"
                                                                       : "ONLINE");
  }
  server("2022");
  const std::string diff = backup([&](Backup& b) {
    b.type = 5;
    b.files.push_back({"tavox_ft", "E:\\Old\\FT", 'F', 16});
  });
  auto header = run("RESTORE HEADERONLY FROM DISK = N'" + diff + "'").first_set();
  EXPECT_EQ(header.rows.at(0)[2], Cell{int64_t{5}});                          // BackupType
  EXPECT_EQ(header.rows[0][49], Cell{std::string("Database Differential")});  // its description
  EXPECT_EQ(header.columns[49].name, "BackupTypeDescription");
  EXPECT_EQ(run("RESTORE FILELISTONLY FROM DISK = N'" + diff + "'").rows().at(2)[2],
            Cell{std::string("F")});
  EXPECT_EQ(std::get<0>(error(restore("fresh", diff, "D:\\"))), 3118);  // no such database
  // After a full restore WITH NORECOVERY the differential goes on from there.
  fs::create_directories(root_ + "/D/Data");
  backup();
  fs::copy_file(root_ + "/tavox.bak", root_ + "/full.bak");
  const std::string diff2 = backup([](Backup& b) { b.type = 5; });
  EXPECT_TRUE(
      run(restore("t", root_ + "/full.bak", "D:\\Data\\", ", NORECOVERY")).numbers(true).empty());
  EXPECT_TRUE(run(restore("t", diff2, "D:\\Data\\")).numbers(true).empty());
  EXPECT_EQ(state_->find_database("t")->status, "ONLINE");

  // A MOVE of the logical name in another letter case, on a case-sensitive server.
  server("2022", 100, [](StateOptions& o) { o.case_sensitive = true; });
  const std::string bak = backup();
  EXPECT_EQ(
      error("RESTORE DATABASE [x] FROM DISK = N'" + bak +
            "' WITH MOVE N'TAVOX_DATA' TO N'D:\\x.mdf'"),
      std::make_tuple(3234, 16,
                      std::string("Logical file 'TAVOX_DATA' is not part of database 'x'. "
                                  "Use RESTORE FILELISTONLY to list the logical file names.")));
  EXPECT_EQ(run("SELECT SERVERPROPERTY('Collation')").rows(),
            std::vector<Row>{{std::string("Chinese_PRC_CS_AS")}});
}

}  // namespace
}  // namespace standin
