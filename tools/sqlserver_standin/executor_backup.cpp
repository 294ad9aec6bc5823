// BACKUP DATABASE, writing the stand-in's backup file of a database, and
// RESTORE VERIFYONLY, reading one to its end.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "executor_internal.h"

namespace standin::detail {

namespace {

std::string now_text() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

}  // namespace

Result Request::verify(const Restore& r, const Backup& b) {
  const bool today = st_.settings().profile.major >= 9;
  const int readable = b.complete ? 100 : std::min(b.readable_percent, 99);
  if (!advance(r.stats, ex_.controls().restore_seconds, readable, false)) {
    emit(read_past_end());
    emit(sql_message(3013, 16, 1, terminating(r)));
    return {};
  }
  emit(sql_message(3262, 0, 1,
                   today ? "The backup set on file " + std::to_string(r.file) + " is valid."
                         : std::string("The backup set is valid.")));
  return {};
}

Result Request::run(const BackupDatabase& bk, const Params& params) {
  auto refuse = [&](ServerMessage m) {
    emit(m);
    emit(sql_message(3013, 16, 1, "BACKUP DATABASE is terminating abnormally."));
    return Result{};
  };
  const std::string disk = device_path(bk.disk, params);
  const Profile& profile = st_.settings().profile;
  Backup backup;
  std::optional<Shortfall> short_of;
  {
    std::lock_guard<std::mutex> lock(st_.mutex);
    Database* db = st_.find_database(bk.database);
    if (!db)
      return refuse(sql_message(911, 16, 1,
                                "Database '" + bk.database +
                                    "' does not exist. Make sure that the name is entered "
                                    "correctly."));
    if (!st_.has_role(s_.login, "sysadmin") && !names_equal(db->owner, s_.login))
      return refuse(sql_message(
          262, 14, 1, "BACKUP DATABASE permission denied in database '" + db->name + "'."));
    if (s_.trancount > 0)
      return refuse(sql_message(
          3021, 16, 0, "Cannot perform a backup or restore operation within a transaction."));
    if (iequals(db->name, "tempdb"))
      return refuse(sql_message(
          3147, 16, 1, "Backup and restore operations are not allowed on database tempdb."));
    if (db->status == "RESTORING")
      return refuse(sql_message(
          927, 14, 1,
          "Database '" + db->name + "' cannot be opened. It is in the middle of a restore."));
    if (disk.empty())
      return refuse(sql_message(3044, 16, 1,
                                "Invalid zero-length device name. Reissue the BACKUP statement "
                                "with a valid device name."));
    auto cannot_open = [&](const std::string& error) {
      return refuse(sql_message(
          3201, 16, 1,
          "Cannot open backup device '" + disk + "'. Operating system error " + error + "."));
    };
    if (!st_.folder_exists(disk))
      return cannot_open("3(The system cannot find the path specified.)");
    PathState at = st_.path_state(disk);
    if (at.directory) return cannot_open("5(Access is denied.)");
    if (st_.database_with_file(disk))
      return cannot_open(
          "32(The process cannot access the file because it is being used by another process.)");
    backup.database = db->name;
    backup.major = profile.major;
    backup.minor = 0;
    backup.build = profile.build;
    backup.started = now_text();
    backup.type = bk.differential ? 5 : 1;
    for (const auto& f : db->files)
      backup.files.push_back({f.logical, f.physical, f.type, f.pages});
    // The new file takes the place of a backup the server wrote there before.
    std::vector<DbFile> replaced;
    for (const auto& w : st_.written_backups())
      replaced.push_back({"", w.path, 'D', w.bytes / 8192});
    short_of = shortfall({{"", disk, 'D', backup.bytes() / 8192}}, replaced);
  }
  // The disk fills up part of the way through.
  const int fits =
      short_of
          ? static_cast<int>(short_of->available * 100 / std::max<int64_t>(1, short_of->needed))
          : 100;
  auto started = std::chrono::steady_clock::now();
  if (!advance(bk.stats, ex_.controls().backup_seconds, short_of ? std::min(fits, 99) : 100,
               false)) {
    if (profile.major < 9)
      return refuse(sql_message(
          3202, 16, 1,
          "Write on '" + disk +
              "' failed, status = 112. See the SQL Server error log for more details."));
    return refuse(sql_message(
        3202, 16, 1,
        "Write on \"" + disk + "\" failed: 112(There is not enough space on the disk.)"));
  }
  {
    std::lock_guard<std::mutex> lock(st_.mutex);
    std::string local = st_.local_path(disk);
    if (st_.under_root(local) && !write_backup_file(local, backup))
      return refuse(sql_message(3201, 16, 1,
                                "Cannot open backup device '" + disk +
                                    "'. Operating system error 3(The system cannot find the path "
                                    "specified.)."));
    std::vector<DbFile> gone;
    for (const auto& w : st_.written_backups())
      if (sql_lower(st_.local_path(w.path)) == sql_lower(local))
        gone.push_back({"", w.path, 'D', w.bytes / 8192});
    take_space(gone, -1);
    take_space({{"", disk, 'D', backup.bytes() / 8192}}, +1);
    st_.record_backup(disk, backup.database, backup.bytes(), format_backup(backup));
    st_.save();
  }
  for (const auto& f : backup.files)
    emit(sql_message(4035, 0, 1,
                     "Processed " + std::to_string(f.pages) + " pages for database '" +
                         backup.database + "', file '" + f.logical + "' on file 1."));
  emit(sql_message(
      3014, 0, 1,
      std::string(bk.differential ? "BACKUP DATABASE WITH DIFFERENTIAL" : "BACKUP DATABASE") +
          " successfully processed " + pages_in_time(backup.pages(), started)));
  return {};
}

}  // namespace standin::detail
