// RESTORE DATABASE, FILELISTONLY, HEADERONLY and VERIFYONLY: reading the backup
// file, planning the files, and the restore's progress, failure and stall controls.

#include "executor_internal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace standin::detail {

namespace {

// A version as SQL Server's messages write it: 8.00.2039.
std::string version_text(int major, int minor, int build) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%02d.%04d", major, minor, build);
  return buf;
}

// Whether the server's service account may read the file: the stand-in's user
// stands for it, so a file of another user that others may not read is refused.
bool service_may_read(const std::string& local) {
  struct stat st {};
  if (::stat(local.c_str(), &st) != 0) return true;  // missing: reported as such
  if (st.st_uid == ::geteuid()) return ::access(local.c_str(), R_OK) == 0 || ::geteuid() == 0;
  return (st.st_mode & S_IROTH) != 0 || ::access(local.c_str(), R_OK) == 0;
}

}  // namespace

std::string device_path(const std::string& disk, const Params& params) {
  if (disk.empty() || disk[0] != '@') return disk;
  auto it = params.find(sql_lower(disk));
  if (it == params.end())
    throw SqlError({sql_message(137, 15, 2, "Must declare the scalar variable \"" + disk + "\".")});
  return it->second.value_or("");
}

std::string pages_in_time(int64_t pages, std::chrono::steady_clock::time_point started) {
  const double elapsed = std::max(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 0.001);
  const double rate = static_cast<double>(pages) * 8192.0 / 1048576.0 / elapsed;
  char buf[96];
  std::snprintf(buf, sizeof buf, " pages in %.3f seconds (%.3f MB/sec).", elapsed, rate);
  return std::to_string(pages) + buf;
}

std::string Request::terminating(const Restore& r) {
  switch (r.kind) {
    case Restore::Database:
      return "RESTORE DATABASE is terminating abnormally.";
    case Restore::FileListOnly:
      return "RESTORE FILELIST is terminating abnormally.";
    case Restore::HeaderOnly:
      return "RESTORE HEADERONLY is terminating abnormally.";
    case Restore::VerifyOnly:
      return "VERIFY DATABASE is terminating abnormally.";
  }
  return {};
}

// Opens the backup; emits 3201/3241 + 3013 and returns nullopt when it cannot.
std::optional<Backup> Request::open_backup(const Restore& r, const Params& params) {
  const std::string disk = device_path(r.disk, params);
  std::string local, text;
  std::optional<std::string> recorded;
  bool missing_drive = false;
  {
    std::lock_guard<std::mutex> lock(st_.mutex);
    local = st_.local_path(disk);
    recorded = st_.recorded_backup(disk);
    missing_drive = !disk.empty() && st_.drive_missing(disk);
  }
  std::error_code ec;
  if (!disk.empty() && std::filesystem::is_regular_file(local, ec) &&
      (st_.settings().backups_unreadable || !service_may_read(local))) {
    emit(sql_message(
        3201, 16, 2,
        "Cannot open backup device '" + disk + "'. Operating system error 5(Access is denied.)."));
    emit(sql_message(3013, 16, 1, terminating(r)));
    return std::nullopt;
  }
  std::ifstream in(local, std::ios::binary);
  if (!recorded && (disk.empty() || !in || std::filesystem::is_directory(local, ec))) {
    bool folder = !disk.empty() && !missing_drive &&
                  std::filesystem::is_directory(std::filesystem::path(local).parent_path(), ec);
    emit(sql_message(3201, 16, 2,
                     "Cannot open backup device '" + disk + "'. Operating system error " +
                         (folder ? "2(The system cannot find the file specified.)."
                                 : "3(The system cannot find the path specified.).")));
    emit(sql_message(3013, 16, 1, terminating(r)));
    return std::nullopt;
  }
  if (recorded && !in) {
    text = *recorded;
  } else {
    std::stringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
  }
  auto b = parse_backup(text);
  if (!b) {
    emit(sql_message(3241, 16, 0,
                     "The media family on device '" + disk +
                         "' is incorrectly formed. SQL Server cannot process this media family."));
    emit(sql_message(3013, 16, 1, terminating(r)));
    return std::nullopt;
  }
  if (r.file != 1) {
    emit(sql_message(
        4038, 16, 1,
        "Cannot find file ID " + std::to_string(r.file) + " on device '" + disk + "'."));
    emit(sql_message(3013, 16, 1, terminating(r)));
    return std::nullopt;
  }
  restore_disk_ = disk;
  return b;
}

Result Request::run(const Restore& r, const Params& params) {
  // SQL Server 2000's VERIFYONLY takes no STATS.
  if (r.kind == Restore::VerifyOnly && r.stats && st_.settings().profile.major < 9) {
    emit(sql_message(3032, 16, 2,
                     "One or more of the options (stats) are not supported for this statement. "
                     "Review the documentation for supported options."));
    emit(sql_message(3013, 16, 1, terminating(r)));
    return {};
  }
  if (r.kind == Restore::FileListOnly || r.kind == Restore::HeaderOnly ||
      r.kind == Restore::VerifyOnly) {
    auto b = open_backup(r, params);
    if (!b) return {};
    if (r.kind == Restore::VerifyOnly) return verify(r, *b);
    const Profile& profile = st_.settings().profile;
    ResultSet rs = r.kind == Restore::HeaderOnly ? header_list(profile, *b, ex_.server_name())
                                                 : file_list(profile, *b);
    return select_result(rs);
  }
  return restore_database(r, params);
}

Result Request::restore_database(const Restore& r, const Params& params) {
  {
    std::lock_guard<std::mutex> lock(st_.mutex);
    Database* existing = st_.find_database(r.database);
    bool allowed =
        st_.has_role(s_.login, "dbcreator") || (existing && names_equal(existing->owner, s_.login));
    if (!allowed) {
      emit(sql_message(3110, 14, 1,
                       "User does not have permission to RESTORE database '" + r.database + "'."));
      emit(sql_message(3013, 16, 1, terminating(r)));
      return {};
    }
    if (s_.trancount > 0) {
      emit(sql_message(3021, 16, 0,
                       "Cannot perform a backup or restore operation within a transaction."));
      emit(sql_message(3013, 16, 1, terminating(r)));
      return {};
    }
  }
  std::optional<Backup> backup = open_backup(r, params);
  if (!backup || !restorable(r, *backup)) return {};
  std::unique_lock<std::mutex> lock(st_.mutex);
  const Profile& profile = st_.settings().profile;
  Database* existing = st_.find_database(r.database);
  auto refuse = [&](ServerMessage m) {
    emit(m);
    emit(sql_message(3013, 16, 1, terminating(r)));
    return Result{};
  };
  // A differential or log backup continues a restore left WITH NORECOVERY.
  if (backup->type != 1) {
    if (existing && existing->status == "RESTORING" && existing->rollforward_ready) {
      std::string dbname = existing->name;
      lock.unlock();
      progress_and_finish(r, *backup, dbname, backup->pages());
      return {};
    }
    if (!existing)
      return refuse(sql_message(3118, 16, 1,
                                "The database \"" + r.database +
                                    "\" does not exist. RESTORE can only create a database when "
                                    "restoring either a full backup or a file backup of the "
                                    "primary file."));
    return refuse(sql_message(3117, 16, 1,
                              "The log or differential backup cannot be restored because no files "
                              "are ready to rollforward."));
  }
  for (const auto& [logical, path] : r.moves) {
    // A named reference: clang before 16 cannot capture a structured binding.
    const std::string& wanted = logical;
    bool found = std::any_of(backup->files.begin(), backup->files.end(),
                             [&](const BackupFile& f) { return names_equal(f.logical, wanted); });
    if (!found)
      return refuse(sql_message(3234, 16, 2,
                                "Logical file '" + logical + "' is not part of database '" +
                                    r.database +
                                    "'. Use RESTORE FILELISTONLY to list the logical file names."));
  }
  if (existing && st_.in_use(existing->name))
    return refuse(sql_message(
        3101, 16, 1, "Exclusive access could not be obtained because the database is in use."));
  if (existing && !r.replace && !names_equal(existing->name, backup->database))
    return refuse(
        sql_message(3154, 16, 4,
                    "The backup set holds a backup of a database other than the existing '" +
                        existing->name + "' database."));
  std::vector<DbFile> files;
  for (const auto& bf : backup->files) {
    DbFile f{bf.logical, bf.physical, bf.type, bf.pages};
    for (const auto& [logical, path] : r.moves)
      if (names_equal(logical, bf.logical)) f.physical = path;
    files.push_back(f);
  }
  bool planning_failed = false;
  auto cannot_restore = [&](const DbFile& f, uint8_t state) {
    emit(sql_message(3156, 16, state,
                     "File '" + f.logical + "' cannot be restored to '" + f.physical +
                         "'. Use WITH MOVE to identify a valid location for the file."));
    planning_failed = true;
  };
  for (const auto& f : files) {
    const Database* owner = st_.database_with_file(f.physical);
    if (owner && !(existing && names_equal(owner->name, existing->name))) {
      emit(sql_message(1834, 16, 1,
                       "The file '" + f.physical +
                           "' cannot be overwritten.  It is being used by database '" +
                           owner->name + "'."));
      cannot_restore(f, 4);
    } else if (!st_.folder_exists(f.physical)) {
      // SQL Server 2000 looks the folder up; later servers check each target
      // before creating it, and Linux reports the missing folder as a missing file.
      if (profile.major < 9)
        emit(sql_message(5133, 16, 1,
                         "Directory lookup for the file \"" + f.physical +
                             "\" failed with the operating system error 3(The system cannot find "
                             "the path specified.)."));
      else
        emit(sql_message(
            3634, 16, 1,
            "The operating system returned the error '" +
                std::string(profile.linux_host ? "2(The system cannot find the file specified.)"
                                               : "3(The system cannot find the path specified.)") +
                "' while attempting 'RestoreContainer::ValidateTargetForCreation' on '" +
                f.physical + "'."));
      cannot_restore(f, 3);
    }
  }
  const std::vector<DbFile> replaced = existing ? existing->files : std::vector<DbFile>{};
  // Windows checks the free space while planning; Linux does not and fails
  // when it cannot grow a file (KB 4519691).
  std::optional<Shortfall> short_of = shortfall(files, replaced);
  if (!planning_failed && short_of && !profile.linux_host) {
    emit(sql_message(3257, 16, 1,
                     "There is insufficient free space on disk volume '" +
                         std::string(1, short_of->letter) +
                         ":\\' to create the database. The database requires " +
                         std::to_string(short_of->needed) + " additional free bytes, while only " +
                         std::to_string(short_of->available) + " bytes are available."));
    planning_failed = true;
  }
  if (planning_failed)
    return refuse(sql_message(3119, 16, 1,
                              "Problems were identified while planning for the RESTORE statement. "
                              "Previous messages provide details."));
  // The database exists from now on, restoring, with the new files.
  std::string owner = existing ? existing->owner : s_.login;
  if (existing) {
    for (const auto& f : existing->files) {
      bool kept = std::any_of(files.begin(), files.end(), [&](const DbFile& n) {
        return st_.local_path(n.physical) == st_.local_path(f.physical);
      });
      if (!kept) st_.delete_file(f.physical);
    }
    take_space(existing->files, -1);
    st_.remove_database(existing->name);
  }
  Database db;
  db.name = r.database;
  db.owner = owner;
  db.files = files;
  db.status = "RESTORING";
  for (const auto& f : files) st_.create_file(f.physical);
  take_space(files, +1);
  st_.add_database(db);
  st_.save();
  if (short_of) {
    auto full = std::find_if(files.begin(), files.end(), [&](const DbFile& f) {
      return ServerState::drive_letter(f.physical) == short_of->letter;
    });
    return refuse(no_room(*full));
  }
  std::string dbname = db.name;
  // The database is in use by the restore until it ends, however it ends.
  st_.being_restored.insert(dbname);
  struct Release {
    ServerState& st;
    std::string name;
    ~Release() {
      std::lock_guard<std::mutex> lock(st.mutex);
      st.being_restored.erase(name);
    }
  } release{st_, dbname};
  lock.unlock();
  progress_and_finish(r, *backup, dbname, backup->pages());
  return {};
}

// A server restores backups of its own version and older ones down to the
// oldest its upgrade path accepts: 2012 and later need 2005 or later.
bool Request::restorable(const Restore& r, const Backup& b) {
  const Profile& p = st_.settings().profile;
  bool newer = b.major > p.major;
  bool too_old = p.major >= 11 && b.major < 9;
  if (!newer && !too_old) return true;
  emit(sql_message(3169, 16, 1,
                   "The database was backed up on a server running version " +
                       version_text(b.major, b.minor, b.build) +
                       ". That version is incompatible with this server, which is running "
                       "version " +
                       version_text(p.major, 0, p.build) +
                       ". Either restore the database on a server that supports the backup, or "
                       "use a backup that is compatible with this server."));
  emit(sql_message(3013, 16, 1, terminating(r)));
  return false;
}

void Request::set_status(const std::string& dbname, const std::string& status) {
  Database* db = st_.find_database(dbname);
  if (db) db->status = status;
  st_.save();
}

ServerMessage Request::read_past_end() {
  if (st_.settings().profile.major < 9)
    return sql_message(3203, 16, 1,
                       "Read on '" + restore_disk_ +
                           "' failed, status = 38. See the SQL Server error log for more details.");
  return sql_message(3203, 16, 1,
                     "Read on \"" + restore_disk_ + "\" failed: 38(Reached the end of the file.)");
}

bool Request::advance(std::optional<int> stats, double seconds, int stop_after,
                      bool restore_controls) {
  uint8_t done_token = in_proc_depth_ ? kTokDoneInProc : kTokDone;
  int step = stats.value_or(0);
  // Progress goes in small steps internally so that a failure point between
  // two reports still fails at the right moment. SQL Server 2000 reports each
  // multiple of STATS exactly; later servers report the progress reached when
  // a threshold has been passed, which is often a little above it (12, 21,
  // 30, 42...): their reads advance it in uneven strides.
  const int stride = st_.settings().profile.major >= 9 ? 3 : 1;
  const auto stall_at = restore_controls ? ex_.controls().stall_restore_at : std::nullopt;
  int reported = 0;
  for (int pct = stride; pct < 100 + stride; pct += stride) {
    if (pct > 100) pct = 100;
    auto ms = std::chrono::milliseconds(static_cast<int64_t>(seconds * 10.0 * stride));
    if (!sink_.wait(ms)) throw Cancelled{};
    if (stall_at && pct > *stall_at) {
      sink_.stall();
      throw Cancelled{};
    }
    if (pct > stop_after) return false;
    if (step > 0 && pct >= (reported / step + 1) * step) {
      reported = stride == 1 ? pct - pct % step : pct;
      // Class 10 messages reach the client as class 0.
      emit(sql_message(3211, 0, 1, std::to_string(reported) + " percent processed."));
      sink_.done(done_token, kDoneMore, 0, 0);
      sink_.flush();
    }
  }
  return true;
}

// Called without the state locked.
void Request::progress_and_finish(const Restore& r, const Backup& b, const std::string& dbname,
                                  int64_t pages) {
  auto started = std::chrono::steady_clock::now();
  const auto fail_at = ex_.controls().restore_fail_at;
  // A backup cut short fails where its data ends, one that only lacks its
  // end after the last of it.
  const int readable = b.complete ? 100 : std::min(b.readable_percent, 99);
  const int stop = std::min(fail_at.value_or(100), readable);
  if (!advance(r.stats, ex_.controls().restore_seconds, stop, true)) {
    if (fail_at && *fail_at == stop)
      emit(sql_message(
          3203, 16, 1,
          "Read on '" + restore_disk_ + "' failed: 23(Data error (cyclic redundancy check).)"));
    else
      emit(read_past_end());
    emit(sql_message(3013, 16, 1, terminating(r)));
    return;
  }
  for (const auto& f : b.files) {
    emit(sql_message(4035, 0, 1,
                     "Processed " + std::to_string(f.pages) + " pages for database '" + dbname +
                         "', file '" + f.logical + "' on file " + std::to_string(r.file) + "."));
  }
  emit(sql_message(3014, 0, 1,
                   "RESTORE DATABASE successfully processed " + pages_in_time(pages, started)));
  std::lock_guard<std::mutex> lock(st_.mutex);
  set_status(dbname, r.recovery ? "ONLINE" : "RESTORING");
  if (Database* db = st_.find_database(dbname)) db->rollforward_ready = !r.recovery;
  st_.save();
}

}  // namespace standin::detail
