#include "window/opening.h"

#include <algorithm>
#include <cctype>

#include "app/gf_str_xor.h"
#include "detect/detect.h"
#include "install/install.h"
#include "platform/codepage.h"

namespace dbsetup {

// "Marlox零售管理系统安装" in code page 936, scrambled.
const char kScrambledAppName[23] =
    "\x29\x04\xFB\x08\x03\xF7\xAA\x93\x9B\x92\xBB\x96\xAF\x7E\xA7\xB0\xA0\xC1\xC2\xBD\x94\xC6";

std::string display_name() {
  return cp936_to_utf8(gf_str_xor(std::string_view(kScrambledAppName, 22)));
}

bool w_createdb_open(SetupContext& ctx, const std::string& edition, int* detection) {
  WindowUi& ui = ctx.ui;
  if (detection) *detection = 0;
  ctx.gs.gs_appname = display_name();
  ui.set_title(ctx.gs.gs_appname);
  ctx.state.is_dbtype = edition;
  if (ctx.state.is_dbtype.empty()) return false;

  const int detected = wf_check_dbsetup(ctx, ctx.state.is_dbtype);
  if (detection) *detection = detected;
  if (detected < 0) return false;

  if (ctx.state.is_dbtype == "mss7") {
    ui.show_page("tabpage_mss7");
    ui.set_title(ctx.gs.gs_appname + "(Microsoft SQL Server 7.0)");
    ui.set_text("st_title2", "Microsoft SQL Server 7.0");
  } else if (ctx.state.is_dbtype == "mss2000") {
    ui.show_page("tabpage_mss2000");
    ui.set_text("st_title2", "Microsoft SQL Server 2000");
  }
  ui.set_text("st_title1", "欢迎使用" + ctx.gs.gs_appname + "!");

  ui.set_text("sle_dbname", ctx.gs.gs_database_name);
  ui.set_text("sle_mss7_servername", "127.0.0.1");
  ui.set_text("sle_dbname_2000", ctx.gs.gs_database_name);
  ui.set_text("sle_mss2000_servername", "127.0.0.1");
  // The instance chosen by the detection is where the install goes.
  if (ctx.state.is_dbtype == "mss2000") point_server_at_instance(ctx);
  return true;
}

int cb_dbsetup_clicked(SetupContext& ctx) {
  if (ctx.state.is_dbtype == "mss7") return wf_mss7_setup(ctx);
  if (ctx.state.is_dbtype == "mss2000") return wf_mss2000_setup(ctx);
  return 1;
}

}  // namespace dbsetup
