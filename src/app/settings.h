#pragma once

#include <string>

namespace dbsetup {

// The program-wide settings shared by the window, the detection and the
// install procedure. All texts are UTF-8.
struct Settings {
  std::string gs_appname = "Marlox";  // replaced by the window's opening step
  std::string gs_database_name;       // dbinstall.ini: databasename
  std::string gs_database_data;       // dbinstall.ini: dataname (logical data file)
  std::string gs_database_log;        // dbinstall.ini: logname (logical log file)
  std::string gs_logid = "zq";        // the application's own server login
  std::string gs_password = "zq";     // its password
};

}  // namespace dbsetup
