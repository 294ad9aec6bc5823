// The extended procedures on the server's disk (xp_fileexist, xp_create_subdir,
// xp_fixeddrives) and the free space that CREATE DATABASE, RESTORE and BACKUP
// take from the drives.

#include <algorithm>

#include "executor_internal.h"

namespace standin::detail {

namespace {

Column int_column(const char* name) {
  Column c;
  c.name = name;
  c.type = ColType::Int;
  return c;
}

}  // namespace

bool Request::extended_procedure(const std::string& name, const Exec& e, const Params& params,
                                 int* ret) {
  const Profile& profile = st_.settings().profile;
  const bool fileexist = name == "xp_fileexist", subdir = name == "xp_create_subdir",
             drives = name == "xp_fixeddrives";
  if (!fileexist && !subdir && !drives) return false;
  // SQL Server on Linux has no xp_fixeddrives; SQL Server 2000 no xp_create_subdir.
  if ((drives && profile.linux_host) || (subdir && profile.major < 9)) {
    emit(sql_message(
        2812, 16, 62,
        "Could not find stored procedure '" + (e.written.empty() ? e.proc : e.written) + "'."));
    return true;
  }
  std::string path;
  if (!e.args.empty()) {
    const ExecArg& a = e.args.front();
    path = a.text;
    if (a.kind == ExecArg::Variable) {
      auto it = params.find(sql_lower(a.text));
      if (it == params.end())
        throw SqlError(
            {sql_message(137, 15, 2, "Must declare the scalar variable \"" + a.text + "\".")});
      path = it->second.value_or("");
    }
  }
  std::lock_guard<std::mutex> lock(st_.mutex);
  const bool sysadmin = st_.has_role(s_.login, "sysadmin");
  if (fileexist) {
    // Other logins look through their own (missing) Windows account: nothing is there.
    PathState p = sysadmin || profile.major < 9 ? st_.path_state(path) : PathState{};
    ResultSet rs;
    rs.columns = {int_column("File Exists"), int_column("File is a Directory"),
                  int_column("Parent Directory Exists")};
    rs.rows.push_back({int64_t{p.file}, int64_t{p.directory}, int64_t{p.parent}});
    emit_rows(rs);
    sink_.done(kTokDoneInProc, kDoneMore | kDoneCount, kCmdSelect, rs.rows.size());
    *ret = 0;
  } else if (subdir) {
    if (!sysadmin) {
      emit(sql_message(229, 14, 5,
                       "The EXECUTE permission was denied on the object 'xp_create_subdir', "
                       "database 'mssqlsystemresource', schema 'sys'."));
      return true;
    }
    if (auto err = st_.create_folder(path)) {
      emit(sql_message(22048, 16, 1,
                       "xp_create_subdir() returned error " + std::to_string(err->code) + ", '" +
                           err->text + "'",
                       "xp_create_subdir", 0));
      return true;
    }
    st_.save();
    *ret = 0;
  } else {
    ResultSet rs;
    Column drive;
    drive.name = "drive";
    drive.type = ColType::Char;
    drive.max_chars = 1;
    rs.columns = {drive, int_column("MB free")};
    std::vector<Drive> list = st_.drives();
    std::sort(list.begin(), list.end(),
              [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
    for (const auto& d : list)
      rs.rows.push_back({std::string(1, d.letter), int64_t{d.free_bytes >> 20}});
    emit_rows(rs);
    sink_.done(kTokDoneInProc, kDoneMore | kDoneCount, kCmdSelect, rs.rows.size());
    *ret = 0;
  }
  return true;
}

std::optional<Request::Shortfall> Request::shortfall(const std::vector<DbFile>& writes,
                                                     const std::vector<DbFile>& replaced) {
  std::map<char, int64_t> needed;
  for (const auto& f : writes) {
    char letter = ServerState::drive_letter(f.physical);
    if (!st_.drive(letter)) continue;
    needed[letter] += f.bytes();
    // A file written over one of the same path reuses its space.
    std::string local = sql_lower(st_.local_path(f.physical));
    for (const auto& old : replaced)
      if (sql_lower(st_.local_path(old.physical)) == local) needed[letter] -= old.bytes();
  }
  for (const auto& [letter, bytes] : needed) {
    int64_t available = st_.drive(letter)->free_bytes;
    if (bytes > available) return Shortfall{letter, bytes, available};
  }
  return std::nullopt;
}

void Request::take_space(const std::vector<DbFile>& files, int sign) {
  for (const auto& f : files) {
    if (Drive* d = st_.drive(ServerState::drive_letter(f.physical)))
      d->free_bytes = std::max<int64_t>(0, d->free_bytes - sign * f.bytes());
  }
}

ServerMessage Request::no_room(const DbFile& file) {
  // Linux reports the full disk as a failing device.
  const bool linux = st_.settings().profile.linux_host;
  return sql_message(5149, 16, 3,
                     "MODIFY FILE encountered operating system error " +
                         std::string(linux ? "31(A device attached to the system is not "
                                             "functioning.)"
                                           : "112(There is not enough space on the disk.)") +
                         " while attempting to expand the physical file '" + file.physical + "'.");
}

}  // namespace standin::detail
