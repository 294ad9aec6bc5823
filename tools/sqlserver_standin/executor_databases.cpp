// CREATE DATABASE and DROP DATABASE: permissions, files on the server's disk
// and the room they take there.

#include "executor_internal.h"

#include <algorithm>
#include <cmath>

namespace standin::detail {

Result Request::run(const CreateDatabase& c, const Params&) {
  std::lock_guard<std::mutex> lock(st_.mutex);
  if (!may_create_databases()) {
    emit(sql_message(262, 14, 1, "CREATE DATABASE permission denied in database 'master'."));
    return {};
  }
  if (s_.trancount > 0) {
    emit(sql_message(226, 16, 6,
                     "CREATE DATABASE statement not allowed within multi-statement transaction."));
    return {};
  }
  if (st_.find_database(c.name)) {
    emit(
        sql_message(1801, 16, 3,
                    "Database '" + c.name + "' already exists. Choose a different database name."));
    return {};
  }
  std::vector<DbFile> files;
  auto defaults = st_.default_files(c.name);
  auto pages = [](const FileSpec& f) {
    return std::max<int64_t>(1, std::llround(f.size_mb.value_or(1) * 128));
  };
  if (c.data.empty()) files.push_back(defaults[0]);
  for (const auto& f : c.data)
    files.push_back({f.logical.empty() ? c.name : f.logical, f.filename, 'D', pages(f)});
  if (c.log.empty()) files.push_back(defaults[1]);
  for (const auto& f : c.log)
    files.push_back({f.logical.empty() ? c.name + "_log" : f.logical, f.filename, 'L', pages(f)});
  int model = st_.settings().model_size_mb > 0 ? st_.settings().model_size_mb
                                               : st_.settings().profile.model_size_mb;
  if (model > 0 && !c.data.empty() && c.data.front().size_mb && *c.data.front().size_mb < model) {
    emit(sql_message(1803, 16, 1,
                     "The CREATE DATABASE statement failed. The primary file must be at least " +
                         std::to_string(model) +
                         " MB to accommodate a copy of the model database."));
    return {};
  }
  for (size_t i = 0; i < files.size(); ++i) {
    for (size_t k = 0; k < i; ++k) {
      if (names_equal(files[k].logical, files[i].logical)) {
        emit(sql_message(1828, 16, 1,
                         "The logical file name \"" + files[i].logical +
                             "\" is already in use. Choose a different name."));
        return {};
      }
    }
  }
  for (const auto& f : files) {
    if (!st_.folder_exists(f.physical)) {
      emit(sql_message(5133, 16, 1,
                       "Directory lookup for the file \"" + f.physical +
                           "\" failed with the operating system error 3(The system cannot find "
                           "the path specified.)."));
      emit(sql_message(1802, 16, 1,
                       "CREATE DATABASE failed. Some file names listed could not be created. "
                       "Check related errors."));
      return {};
    }
    if (st_.file_exists(f.physical)) {
      emit(sql_message(5170, 16, 1,
                       "Cannot create file '" + f.physical +
                           "' because it already exists. Change the file path or the file name, "
                           "and retry the operation."));
      emit(sql_message(1802, 16, 4,
                       "CREATE DATABASE failed. Some file names listed could not be created. "
                       "Check related errors."));
      return {};
    }
  }
  if (auto short_of = shortfall(files, {})) {
    auto full = std::find_if(files.begin(), files.end(), [&](const DbFile& f) {
      return ServerState::drive_letter(f.physical) == short_of->letter;
    });
    emit(no_room(*full));
    emit(sql_message(1802, 16, 4,
                     "CREATE DATABASE failed. Some file names listed could not be created. "
                     "Check related errors."));
    return {};
  }
  for (const auto& f : files) st_.create_file(f.physical);
  take_space(files, +1);
  Database db;
  db.name = c.name;
  db.owner = s_.login;
  db.files = files;
  st_.add_database(db);
  st_.save();
  return {};
}

Result Request::run(const DropDatabase& d, const Params&) {
  std::lock_guard<std::mutex> lock(st_.mutex);
  for (const auto& name : d.names) {
    Database* db = st_.find_database(name);
    bool allowed = db && (st_.has_role(s_.login, "dbcreator") || names_equal(db->owner, s_.login));
    if (!db || !allowed) {
      if (d.if_exists && !db) continue;
      emit(sql_message(3701, 11, 1,
                       "Cannot drop the database '" + name +
                           "', because it does not exist or you do not have permission."));
      continue;
    }
    static const char* system[] = {"master", "model", "msdb", "tempdb"};
    bool is_system = std::any_of(std::begin(system), std::end(system),
                                 [&](const char* n) { return iequals(db->name, n); });
    if (is_system) {
      emit(sql_message(
          3708, 16, 1,
          "Cannot drop the database '" + db->name + "' because it is a system database."));
      continue;
    }
    if (s_.trancount > 0) {
      emit(sql_message(574, 16, 0,
                       "DROP DATABASE statement cannot be used inside a user transaction."));
      continue;
    }
    if (st_.in_use(db->name)) {
      emit(
          sql_message(3702, 16, 4,
                      "Cannot drop database \"" + db->name + "\" because it is currently in use."));
      continue;
    }
    for (const auto& f : db->files) st_.delete_file(f.physical);
    take_space(db->files, -1);
    st_.remove_database(db->name);
    st_.save();
  }
  return {};
}

}  // namespace standin::detail
