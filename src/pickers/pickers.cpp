#include "pickers/pickers.h"

#include <string>

#include "pickers/u_browseforfolder.h"

namespace dbsetup {

namespace {

// One filter choice described as "Data Files (*.*)" that matches every file.
constexpr const char* kDataFileFilter = "Data Files (*.*),*.*";
constexpr const char* kFolderCaption = "选择存放数据的目录：";

// File-open dialog: a confirmed file replaces the field with its full path.
void pick_file(SetupContext& ctx, const std::string& title, std::string& field) {
  std::string docname;
  std::string named;
  int value = ctx.ui.file_open_dialog(title, kDataFileFilter, docname, named);
  if (value != 1) return;
  field = docname;
  ctx.ui.form_changed();
}

// Folder browser owned by the window: an empty result means cancelled.
void pick_folder(SetupContext& ctx, std::string& field) {
  u_browseforfolder lnca_bff;
  std::string ls_a = lnca_bff.browseforfolder(ctx.ui, kFolderCaption);
  if (ls_a.empty()) return;
  field = ls_a;
  ctx.ui.form_changed();
}

}  // namespace

void pb_mss7data_backupfile_clicked(SetupContext& ctx) {
  pick_file(ctx, "请选择需装载的数据文件", ctx.form.mss7.backup);
}

void pb_mss2000data_backupfile_clicked(SetupContext& ctx) {
  pick_file(ctx, "需装载的数据文件", ctx.form.mss2000.backup);
}

void pb_mss7data_setuppath_clicked(SetupContext& ctx) {
  pick_folder(ctx, ctx.form.mss7.data_folder);
}

void pb_mss2000data_setuppath_clicked(SetupContext& ctx) {
  pick_folder(ctx, ctx.form.mss2000.data_folder);
}

}  // namespace dbsetup
