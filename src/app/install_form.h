#pragma once

#include <mutex>
#include <string>

namespace dbsetup {

// The tab page of a server edition.
enum class Page { mss2000, mss7 };

// "mss2000" or "mss7".
constexpr const char* page_name(Page p) { return p == Page::mss7 ? "mss7" : "mss2000"; }

// The fields of one edition's page that the core reads and writes: the
// install parameters and the display-only default data folder.
enum class Field { database, server, login, password, data_folder, default_data_folder, backup };

struct PageFields {
  std::string database = {};
  std::string server = {};
  std::string login = "sa";
  std::string password = {};
  std::string data_folder = {};
  std::string default_data_folder = {};
  std::string backup = {};

  std::string& operator[](Field f) {
    switch (f) {
      case Field::database:
        return database;
      case Field::server:
        return server;
      case Field::login:
        return login;
      case Field::password:
        return password;
      case Field::data_folder:
        return data_folder;
      case Field::default_data_folder:
        return default_data_folder;
      case Field::backup:
        break;
    }
    return backup;
  }
};

// Everything of the window that the core reads and writes: both pages'
// fields as the window stores them when it is created, and the window's own
// state. A window binds its controls to it; the headless front end fills it
// from its options.
struct InstallForm {
  PageFields mss2000{.database = "nuvex"};
  PageFields mss7{.database = "tavox"};
  std::string is_dbtype;            // "mss7" or "mss2000", set when the window opens
  std::string is_mss2000_instance;  // the SQL Server 2000 instance chosen

  PageFields& page(Page p) { return p == Page::mss7 ? mss7 : mss2000; }

  // The copy of an overwritten database that the running install wrote
  // before dropping it (empty: none yet). Written on the thread that runs the
  // procedure; a front end may read it from another (an interrupt handler).
  void set_old_database_copy(const std::string& path) {
    std::lock_guard lock(copy_mutex_);
    old_database_copy_ = path;
  }
  std::string old_database_copy() const {
    std::lock_guard lock(copy_mutex_);
    return old_database_copy_;
  }

 private:
  mutable std::mutex copy_mutex_;
  std::string old_database_copy_;
};

}  // namespace dbsetup
