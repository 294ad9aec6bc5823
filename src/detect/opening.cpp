#include "detect/opening.h"

#include <algorithm>
#include <cctype>

#include "app/application.h"
#include "detect/detect.h"

namespace dbsetup {

bool w_createdb_open(SetupContext& ctx, const std::string& edition, int* detection) {
  WindowUi& ui = ctx.ui;
  if (detection) *detection = 0;
  ctx.gs.gs_appname = display_name();
  ui.set_title(ctx.gs.gs_appname);
  ctx.form.is_dbtype = edition;
  if (ctx.form.is_dbtype.empty()) return false;

  const int detected = wf_check_dbsetup(ctx, ctx.form.is_dbtype);
  if (detection) *detection = detected;
  if (detected < 0) return false;

  std::string server_line;
  if (ctx.form.is_dbtype == "mss7") {
    ui.show_page(Page::mss7);
    ui.set_title(ctx.gs.gs_appname + "(Microsoft SQL Server 7.0)");
    server_line = "Microsoft SQL Server 7.0";
  } else if (ctx.form.is_dbtype == "mss2000") {
    ui.show_page(Page::mss2000);
    server_line = "Microsoft SQL Server 2000";
  }
  ui.set_headings("欢迎使用" + ctx.gs.gs_appname + "!", server_line);

  ctx.form.mss7.database = ctx.gs.gs_database_name;
  ctx.form.mss7.server = "127.0.0.1";
  ctx.form.mss2000.database = ctx.gs.gs_database_name;
  ctx.form.mss2000.server = "127.0.0.1";
  ui.form_changed();
  // The instance chosen by the detection is where the install goes.
  if (ctx.form.is_dbtype == "mss2000") point_server_at_instance(ctx);
  return true;
}

}  // namespace dbsetup
