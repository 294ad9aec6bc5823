#pragma once

// What both windows do alike with their controls: the form's fields shown in
// the controls bound to them and read back, the focus moved to a field, the
// status line and the banner's headings. A window supplies the three
// operations on a control by name.

#include <string>
#include <string_view>

#include "app/window_ui.h"
#include "window/w_createdb_form.h"

namespace dbsetup {

class BoundWindowUi : public WindowUi {
 public:
  // The text of a control (an edit field's, a label's, a list's selected
  // entry), and a new text for an edit field or a static text.
  virtual std::string text(std::string_view control) = 0;
  virtual void set_text(std::string_view control, const std::string& value) = 0;
  // Moves the keyboard focus to a control, selecting an edit field's text.
  virtual void focus_control(std::string_view control) = 0;

  // The form the window's fields show.
  void bind(InstallForm& form) { form_ = &form; }
  // The fields' texts into the form, before a command of the window runs.
  void pull_form() {
    if (!form_) return;
    for (const layout::FieldBinding& b : layout::kFieldBindings)
      form_->page(b.page)[b.field] = text(b.control);
  }

  void form_changed() override {
    if (!form_) return;
    for (const layout::FieldBinding& b : layout::kFieldBindings)
      set_text(b.control, form_->page(b.page)[b.field]);
  }
  void focus(Page page, Field field) override { focus_control(layout::control_of(page, field)); }
  void set_status(const std::string& line) override { set_text("st_status", line); }
  void set_headings(const std::string& line1, const std::string& line2) override {
    set_text("st_title1", line1);
    set_text("st_title2", line2);
  }

 private:
  InstallForm* form_ = nullptr;
};

}  // namespace dbsetup
