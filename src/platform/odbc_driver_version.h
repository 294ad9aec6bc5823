#pragma once

#include <string>

namespace dbsetup::odbc {

// The version an installed ODBC driver reports for itself (SQL_DRIVER_VER,
// "01.03.0017"), asked of the driver's own library without a connection: the
// driver manager answers the question only on a connection, and a logon is
// what needs the answer first. `driver` is a driver name registered with the
// driver manager or the path of a driver library. Empty when the library
// cannot be found, loaded or asked.
std::string driver_library_version(const std::string& driver);

}  // namespace dbsetup::odbc
