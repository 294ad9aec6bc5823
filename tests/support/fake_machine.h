#pragma once

// The machines the window tests open their window on, in the fakes.

#include <string>

#include "support/fake_platform.h"

namespace dbsetup::testing {

// SQL Server 7.0, or (any other edition) SQL Server 2000 with the default
// instance and SHOP and a dbinstall.ini in C:\setup naming `dbname`.
inline void fake_machine(FakePlatform& fake, const std::string& edition,
                         const std::string& dbname = "shopdb") {
  const std::string root = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\";
  fake.files.cwd = "C:\\setup";
  if (edition == "mss7") {
    fake.registry.set_string(root + "MSSQLServer\\Setup", "SQLDataRoot", "C:\\MSSQL7");
    fake.registry.set_string(root + "MSSQLServer\\MSSQLServer", "DefaultDomain", "WORKGROUP");
    return;
  }
  const std::string shop = root + "Microsoft SQL Server\\SHOP\\";
  fake.registry.set_multi(root + "Microsoft SQL Server", "InstalledInstances",
                          {"MSSQLSERVER", "SHOP"});
  fake.registry.set_string(root + "MSSQLSERVER\\Setup", "SQLDataRoot", "D:\\MSSQL");
  fake.registry.set_string(root + "MSSQLSERVER\\MSSQLServer", "DefaultDomain", "WORKGROUP");
  fake.registry.set_string(shop + "Setup", "SQLDataRoot", "E:\\MSSQL$SHOP");
  fake.registry.set_string(shop + "MSSQLServer", "DefaultDomain", "WORKGROUP");
  const std::string ini = "C:\\setup\\dbinstall.ini";
  fake.files.existing.insert(ini);
  fake.profile.set(ini, "database", "databasename", dbname);
  fake.profile.set(ini, "database", "dataname", "shop_data");
  fake.profile.set(ini, "database", "logname", "shop_log");
}

// The logons the fake client has received.
inline int logons(const FakePlatform& fake) {
  int n = 0;
  for (const DbCall& call : fake.script->calls) n += call.kind == DbCall::Connect;
  return n;
}

}  // namespace dbsetup::testing
