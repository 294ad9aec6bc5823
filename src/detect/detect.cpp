#include "detect/detect.h"
#include "platform/text_case.h"

#include <string_view>
#include <vector>

namespace dbsetup {

namespace {

constexpr const char* kDefaultInstance = kDefaultInstanceEntry;

constexpr const char* kSqlServerKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Microsoft SQL Server";

std::string upper(std::string_view s) { return ascii_upper(s); }

void tell(SetupContext& ctx, const std::string& text) {
  ctx.ui.message_box(ctx.gs.gs_appname, text, MsgIcon::Information, MsgButtons::Ok);
}

int check_mss7(SetupContext& ctx) {
  Registry& registry = *ctx.platform.registry;
  std::string root;
  if (!registry.get_string("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\MSSQLServer\\Setup",
                           "SQLDataRoot", root)) {
    tell(ctx, "不能获得SQL Server 7.0 的数据安装路径，请检查是否正确的安装了MS SQL Server 7.0！");
    return -2;
  }
  ctx.form.mss7.default_data_folder = ctx.form.mss7.data_folder = root + "\\Data";
  ctx.ui.form_changed();

  std::string domain;
  if (!registry.get_string("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\MSSQLServer\\MSSQLServer",
                           "DefaultDomain", domain)) {
    tell(ctx, "不能获得SQL Server 7.0 的服务器名，请检查是否正确的安装了MS SQL Server 7.0！");
    return -3;
  }

  std::string cwd = ctx.platform.files->current_directory();
  ctx.form.mss7.backup = cwd + "\\" + ctx.gs.gs_database_name + ".dat";
  ctx.ui.form_changed();
  return 1;
}

int check_mss2000(SetupContext& ctx) {
  WindowUi& ui = ctx.ui;
  std::vector<std::string> ls_installedinstances;
  // Only the list counts, not the read's own result.
  ctx.platform.registry->get_multi_string(kSqlServerKey, "InstalledInstances",
                                          ls_installedinstances);
  if (ls_installedinstances.empty()) {
    tell(ctx, "不能获得SQL Server 2000 的安装参数，请检查是否正确的安装了MS SQL Server 2000！");
    return -4;
  }
  for (const std::string& instance : ls_installedinstances)
    ui.instance_add(upper(instance) == kDefaultInstanceName ? kDefaultInstance : instance);
  if (ui.instance_count() < 1) {
    tell(ctx, "没有检测到SQL Server 2000 的安装实例，请检查是否正确的安装了MS SQL Server 2000！");
    return -5;
  }
  ui.instance_select(1);
  ddplb_mss2000_instances_selectionchanged(ctx, 1);

  std::string cwd = ctx.platform.files->current_directory();
  // Joined as text: a drive root ("C:\") gets its separator twice.
  std::string ini = cwd + "\\dbinstall.ini";
  if (!ctx.platform.files->exists(ini)) {
    tell(ctx, "缺少文件【dbinstall.ini】，请将该文件与本程序放在同一目录中再次尝试运行！");
    return -1;
  }

  ProfileReader& profile = *ctx.platform.profile;
  Settings& gs = ctx.gs;
  gs.gs_database_name = profile.read(ini, "database", "databasename", "None");
  gs.gs_database_data = profile.read(ini, "database", "dataname", "None");
  gs.gs_database_log = profile.read(ini, "database", "logname", "None");
  const std::pair<const char*, const std::string*> keys[] = {
      {"databasename", &gs.gs_database_name},
      {"dataname", &gs.gs_database_data},
      {"logname", &gs.gs_database_log},
  };
  for (const auto& [key, value] : keys) {
    if (*value == "None" || value->empty()) {
      tell(ctx, std::string("安装配置文件【dbinstall.ini】中缺少有效的【") + key +
                    "】设置，请检查该文件后再次运行！");
      return -1;
    }
  }

  ctx.form.mss2000.backup = cwd + "\\" + gs.gs_database_name + ".dat";
  ctx.form.mss2000.database = gs.gs_database_name;
  ui.form_changed();
  return 1;
}

}  // namespace

int wf_check_dbsetup(SetupContext& ctx, const std::string& as_dbtype) {
  const std::string dbtype = upper(as_dbtype);
  if (dbtype == "MSS7") return check_mss7(ctx);
  if (dbtype == "MSS2000") return check_mss2000(ctx);
  tell(ctx, "不支持的数据库!");
  return -1;
}

void ddplb_mss2000_instances_selectionchanged(SetupContext& ctx, int /*index*/) {
  Registry& registry = *ctx.platform.registry;
  std::string& instance = ctx.form.is_mss2000_instance;
  instance = ctx.ui.instance_text();

  const bool is_default = instance == kDefaultInstance;
  std::string ls_base_regkey = is_default ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\MSSQLSERVER"
                                          : std::string(kSqlServerKey) + "\\" + instance;
  std::string ls_regkey = ls_base_regkey + "\\Setup";
  std::string ls_temp;
  bool found = registry.get_string(ls_regkey, "SQLDataRoot", ls_temp);

  // SQL Server 2005 and later list their instances in InstalledInstances as
  // well, but keep each one's settings under a versioned key (MSSQL15.SHOP)
  // that "Instance Names\SQL" maps the instance name to. There the server
  // entry to check is MSSQLServer\CurrentVersion, which every such
  // installation has.
  std::string server_key = ls_base_regkey + "\\MSSQLServer";
  std::string server_value = "DefaultDomain";
  if (!found) {
    std::string versioned;
    if (registry.get_string(std::string(kSqlServerKey) + "\\Instance Names\\SQL",
                            is_default ? kDefaultInstanceName : instance, versioned) &&
        !versioned.empty()) {
      std::string versioned_base = std::string(kSqlServerKey) + "\\" + versioned;
      found = registry.get_string(versioned_base + "\\Setup", "SQLDataRoot", ls_temp);
      server_key = versioned_base + "\\MSSQLServer\\CurrentVersion";
      server_value = "CurrentVersion";
    }
  }
  if (!found) {
    ls_temp.clear();
    tell(ctx, "不能获得SQL Server 2000 实例[" + instance +
                  "]的数据安装路径，请检查是否正确的安装了SQL Server 2000 实例[" + instance +
                  "]！");
  }

  ctx.form.mss2000.default_data_folder = ctx.form.mss2000.data_folder = ls_temp + "\\Data";
  ctx.ui.form_changed();

  std::string ignored;
  if (!registry.get_string(server_key, server_value, ignored)) {
    tell(ctx, "不能获得SQL Server 2000 实例[" + instance +
                  "]的服务器名，请检查是否正确的安装了SQL Server 2000 实例[" + instance + "]！");
  }
  point_server_at_instance(ctx);
}

void point_server_at_instance(SetupContext& ctx) {
  constexpr std::string_view kLoopback = "127.0.0.1";
  std::string& server = ctx.form.mss2000.server;
  const bool loopback_form =
      server == kLoopback ||
      (server.size() > kLoopback.size() + 1 && server.rfind(kLoopback, 0) == 0 &&
       server[kLoopback.size()] == '\\' && server.find(',') == std::string::npos);
  if (!loopback_form) return;
  const std::string& instance = ctx.form.is_mss2000_instance;
  const std::string wanted = instance.empty() || instance == kDefaultInstance
                                 ? std::string(kLoopback)
                                 : std::string(kLoopback) + "\\" + instance;
  if (server == wanted) return;
  server = wanted;
  ctx.ui.form_changed();
}

}  // namespace dbsetup
