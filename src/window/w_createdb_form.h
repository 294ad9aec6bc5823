#pragma once

// Which controls of w_createdb show the fields of the install form, and what
// its buttons run: the one place that ties the layout's control names to the
// core. No toolkit header may be included here.

#include <string_view>

#include "app/context.h"
#include "pickers/pickers.h"

namespace dbsetup::layout {

// An edit field bound to a field of the form.
struct FieldBinding {
  const char* control;
  dbsetup::Page page;
  Field field;
};

inline constexpr FieldBinding kFieldBindings[] = {
    {"sle_dbname_2000", dbsetup::Page::mss2000, Field::database},
    {"sle_mss2000_servername", dbsetup::Page::mss2000, Field::server},
    {"sle_mss2000_userid", dbsetup::Page::mss2000, Field::login},
    {"sle_mss2000_password", dbsetup::Page::mss2000, Field::password},
    {"sle_mss2000data_defaultpath", dbsetup::Page::mss2000, Field::default_data_folder},
    {"sle_mss2000data_setuppath", dbsetup::Page::mss2000, Field::data_folder},
    {"sle_mss2000data_backupfile", dbsetup::Page::mss2000, Field::backup},
    {"sle_dbname", dbsetup::Page::mss7, Field::database},
    {"sle_mss7_servername", dbsetup::Page::mss7, Field::server},
    {"sle_mss7_userid", dbsetup::Page::mss7, Field::login},
    {"sle_mss7_password", dbsetup::Page::mss7, Field::password},
    {"sle_mss7data_defaultpath", dbsetup::Page::mss7, Field::default_data_folder},
    {"sle_mss7data_setuppath", dbsetup::Page::mss7, Field::data_folder},
    {"sle_mss7data_backupfile", dbsetup::Page::mss7, Field::backup},
};

// The control that shows a field of a page.
inline constexpr const char* control_of(dbsetup::Page page, Field field) {
  for (const FieldBinding& b : kFieldBindings)
    if (b.page == page && b.field == field) return b.control;
  return nullptr;
}

// The tab page of an edition.
inline constexpr const char* page_control(dbsetup::Page page) {
  return page == dbsetup::Page::mss7 ? "tabpage_mss7" : "tabpage_mss2000";
}

// The picker buttons and what they run.
struct ButtonHandler {
  const char* control;
  void (*handler)(SetupContext&);
};
inline constexpr ButtonHandler kPickerHandlers[] = {
    {"pb_mss7data_backupfile", &pb_mss7data_backupfile_clicked},
    {"pb_mss7data_setuppath", &pb_mss7data_setuppath_clicked},
    {"pb_mss2000data_backupfile", &pb_mss2000data_backupfile_clicked},
    {"pb_mss2000data_setuppath", &pb_mss2000data_setuppath_clicked},
};

}  // namespace dbsetup::layout
