#pragma once

#include <string>

#include "app/context.h"

namespace dbsetup {

// Where an install ended.
enum class InstallStage {
  values,     // the fields, before anything is sent
  logon,      // the first logon and the authentication mode
  checks,     // the backup and the server, before anything changes
  overwrite,  // the questions, verification and copy of an existing database
  login,      // the install login and its logon
  drop,       // the old database
  database,   // the new database, its default and its data
  configure,  // "allow updates"
  done,
};

// How an install ended.
struct InstallOutcome {
  int code = 0;  // 0 installed (or the 7.0 name declined), else the stage's code
  InstallStage stage = InstallStage::values;
  std::string status;             // what the status line kept
  std::string reason;             // the failure box's text after "错误信息:"; empty without one
  std::string server_text;        // the server's or driver's own text of the failure, if any
  std::string old_database_copy;  // the copy of an overwritten database, when one was written
};

// The install procedures. Each reads its tab page's fields, runs every stage
// on ctx.sqlca and ends with 0 on success (and, for SQL Server 7.0, when the
// operator declines the database name), otherwise with the failed stage's
// code.
InstallOutcome install(SetupContext& ctx, Page page);
int wf_mss2000_setup(SetupContext& ctx);
int wf_mss7_setup(SetupContext& ctx);

// The install button: runs the procedure of ctx.form.is_dbtype; code 1 when
// the edition is unknown and nothing ran.
InstallOutcome cb_dbsetup_clicked(SetupContext& ctx);

}  // namespace dbsetup
