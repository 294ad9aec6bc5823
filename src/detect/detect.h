#pragma once

#include <string>

#include "app/context.h"

namespace dbsetup {

// The instance list's entry for the default instance, and its registry name.
inline constexpr const char* kDefaultInstanceEntry = "默认实例";
inline constexpr const char* kDefaultInstanceName = "MSSQLSERVER";

// Detection of the installed SQL Server of the given edition ("mss7" or
// "mss2000", any letter case). Fills the edition's path fields and, for SQL
// Server 2000, the instance list and the settings read from dbinstall.ini.
// Returns 1, or -1 to -5 after telling the operator why.
int wf_check_dbsetup(SetupContext& ctx, const std::string& as_dbtype);

// Selection handler of ddplb_mss2000_instances: records the chosen instance,
// fills the SQL Server 2000 data folder fields from its registry entries and
// points the server address at it (see point_server_at_instance). `index` is
// not used.
void ddplb_mss2000_instances_selectionchanged(SetupContext& ctx, int index);

// Makes the SQL Server 2000 server address name the chosen instance on this
// machine: "127.0.0.1" for the default instance, "127.0.0.1\<instance>" for a
// named one, as long as the field holds one of those forms; an address typed
// for another machine is left alone.
void point_server_at_instance(SetupContext& ctx);

}  // namespace dbsetup
