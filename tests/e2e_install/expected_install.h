#pragma once

// What an install must send to the server and leave on it, worked out here on
// their own: a statement is its fixed text with "{}" where a value goes,
// inside '...' (a string literal) or [...] (a bracketed name), and the values.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/standin_process.h"

namespace dbsetup::testing {

struct Statement {
  std::string shape;                                    // the fixed text, "{}" for every value
  std::vector<std::string> values = {};                 // in the order they stand in the text
  std::optional<std::string> parameter = std::nullopt;  // the existence query's @P1
};

// The text the server must receive: each value quoted the T-SQL way, ' doubled
// inside a literal and ] doubled inside brackets.
inline std::string fill(const Statement& s) {
  std::string out, rest = s.shape;
  for (const std::string& value : s.values) {
    const std::size_t at = rest.find("{}");
    const char quote = at > 0 && rest[at - 1] == '[' ? ']' : '\'';
    out += rest.substr(0, at);
    for (char c : value) out += c == quote ? std::string(2, c) : std::string(1, c);
    rest.erase(0, at + 2);
  }
  return out + rest;
}

// Where a run ends: the last statement the server must receive.
// FileList: the file list judged (after the server's collation is known);
// Folder: the data folder the server could not create.
enum class Stop { Nothing, HeaderList, FileList, Folder, Create, Restore, Done };

// The values of one run as they reach the procedure.
struct Inputs {
  std::string dbname, folder, backup, dataname, logname;
  bool seven = false;
  bool exists = false;       // a database of that name is on the server
  bool policy = false;       // sp_addlogin is refused, CREATE LOGIN follows
  bool large_model = false;  // the sized CREATE DATABASE is refused once
  // The old database's files are the new ones' (it was installed there):
  // the server lists them, so nothing is asked of the disk.
  bool targets_held = false;
  bool verify_stats = true;    // RESTORE VERIFYONLY takes STATS (SQL Server 2005 on)
  bool create_folder = false;  // the data folder is missing: the server is asked to create it
  std::string copy = {};       // where the old database is copied; empty: no copy
};

inline std::vector<Statement> expected_statements(const Inputs& in, Stop stop = Stop::Done) {
  std::vector<Statement> out;
  if (stop == Stop::Nothing) return out;
  const std::string folder =
      in.folder.empty() || in.folder.back() != '\\' ? in.folder + "\\" : in.folder;
  const std::string data = folder + in.dbname + "_Data.MDF";
  const std::string log = folder + in.dbname + "_Log.LDF";

  out.push_back({"SELECT SERVERPROPERTY('IsIntegratedSecurityOnly')"});
  out.push_back({"RESTORE HEADERONLY FROM DISK = N'{}'", {in.backup}});
  if (stop == Stop::HeaderList) return out;
  out.push_back({"RESTORE FILELISTONLY FROM DISK = N'{}'", {in.backup}});
  out.push_back({"SELECT SERVERPROPERTY('Collation')"});
  if (stop == Stop::FileList) return out;
  out.push_back({"SELECT IS_SRVROLEMEMBER('sysadmin')"});
  out.push_back(Statement{
      "SELECT name FROM sysdatabases WHERE LOWER ( name ) = LOWER ( @P1 )", {}, in.dbname});
  std::string bare = folder;
  while (bare.size() > 1 && (bare.back() == '\\' || bare.back() == '/')) bare.pop_back();
  out.push_back({"EXEC master.dbo.xp_fileexist N'{}'", {bare}});
  if (in.create_folder) out.push_back({"EXEC master.dbo.xp_create_subdir N'{}'", {bare}});
  if (stop == Stop::Folder) return out;
  out.push_back({"SELECT DB_NAME(dbid), filename, size, status FROM master.dbo.sysaltfiles"});
  // The 7.0 edition asks about leftover files on this machine instead.
  if (!in.seven && !in.targets_held)
    for (const std::string& file : {data, log})
      out.push_back({"EXEC master.dbo.xp_fileexist N'{}'", {file}});
  out.push_back({"EXEC master.dbo.xp_fixeddrives"});
  if (in.exists) {
    out.push_back({std::string("RESTORE VERIFYONLY FROM DISK = N'{}' WITH FILE = 1") +
                       (in.verify_stats ? ", STATS = 10" : ""),
                   {in.backup}});
    if (!in.copy.empty())
      out.push_back(
          {"BACKUP DATABASE [{}] TO DISK = N'{}' WITH INIT, STATS = 10", {in.dbname, in.copy}});
  }
  out.push_back({"sp_droplogin zq"});
  out.push_back({"sp_addlogin '{}','{}'", {"zq", "zq"}});
  if (in.policy)
    out.push_back({"CREATE LOGIN [{}] WITH PASSWORD = N'{}', CHECK_POLICY = OFF", {"zq", "zq"}});
  for (const char* role : {"sysadmin", "securityadmin", "serveradmin"})
    out.push_back({std::string("sp_addsrvrolemember N'{}', ") + role, {"zq"}});
  // The install login drops the old database once the copy is safe.
  if (in.exists) out.push_back({"Drop DATABASE [{}]", {in.dbname}});
  for (const std::string size : {"SIZE = 1, ", ""}) {
    out.push_back({"CREATE DATABASE [{}]  ON PRIMARY (NAME = N'{}', FILENAME = N'{}' , " + size +
                       "FILEGROWTH = 10%) LOG ON (NAME = N'{}', FILENAME = N'{}' , " + size +
                       "FILEGROWTH = 10%)",
                   {in.dbname, in.dataname, data, in.logname, log}});
    if (!in.large_model) break;
  }
  if (stop == Stop::Create) return out;
  out.push_back({"exec sp_defaultdb N'{}', N'{}'", {"zq", in.dbname}});
  const std::string replace = in.seven ? "REPLACE ," : "REPLACE  ,";
  out.push_back(
      {"RESTORE DATABASE [{}] FROM  DISK = N'{}' WITH  FILE = 1,  NOUNLOAD ,  STATS = "
       "10,  RECOVERY ,  " +
           replace + " MOVE N'{}' TO N'{}', MOVE N'{}' TO N'{}'",
       {in.dbname, in.backup, in.dataname, data, in.logname, log}});
  if (stop == Stop::Restore) return out;
  for (const char* value : {"1", "0"}) {
    out.push_back({std::string("sp_configure '{}',") + value, {"allow updates"}});
    out.push_back({"RECONFIGURE WITH OVERRIDE"});
  }
  return out;
}

// The item called `name` in one of the server state's lists; null when there
// is none.
inline nlohmann::json find(const StandinServer& server, const char* list, const std::string& name) {
  const nlohmann::json state = server.state();
  for (const auto& item : state[list])
    if (item.value("name", "") == name) return item;
  return nlohmann::json();
}

// The server's databases, whether a connection is still being closed or not.
inline nlohmann::json databases(const StandinServer& server) {
  nlohmann::json d = server.state()["databases"];
  for (nlohmann::json& db : d) db.erase("in_use");
  return d;
}

// The database and the install login as a successful run leaves them.
inline void expect_installed(const StandinServer& server, const Inputs& in) {
  const nlohmann::json db = find(server, "databases", in.dbname), zq = find(server, "logins", "zq");
  ASSERT_TRUE(db.is_object()) << server.state().dump(2);
  EXPECT_EQ(db["status"], "ONLINE");
  ASSERT_EQ(db["files"].size(), 2u);
  EXPECT_EQ(db["files"][0]["type"], "D");
  EXPECT_EQ(db["files"][0]["logical"], in.dataname);
  EXPECT_EQ(db["files"][0]["physical"], in.folder + "\\" + in.dbname + "_Data.MDF");
  EXPECT_TRUE(db["files"][0]["on_disk"].get<bool>());
  EXPECT_EQ(db["files"][1]["type"], "L");
  EXPECT_EQ(db["files"][1]["logical"], in.logname);
  EXPECT_EQ(db["files"][1]["physical"], in.folder + "\\" + in.dbname + "_Log.LDF");
  ASSERT_TRUE(zq.is_object());
  EXPECT_EQ(zq["password"], "zq");
  EXPECT_EQ(zq["roles"], nlohmann::json({"securityadmin", "serveradmin", "sysadmin"}));
  EXPECT_EQ(zq["default_database"], in.dbname);
  EXPECT_EQ(server.state()["configuration"]["allow updates"]["value"].get<int>(), 0);
}

}  // namespace dbsetup::testing
