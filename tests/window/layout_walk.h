#pragma once

// The window's layout as the tests of both windows (Qt and Win32) walk it:
// every control with its parent, the text it shows when the window is made,
// and the round the Tab key makes on a page.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "window/w_createdb_form.h"
#include "window/w_createdb_layout.h"

namespace dbsetup::testing {

// Calls check(page, control) for every control in creation order, `page` the
// object name of its tab page, null for the window's own controls.
template <class Check>
void for_each_control(Check check) {
  using layout::Parent;
  for (Parent parent : {Parent::Window, Parent::PageMss7, Parent::PageMss2000})
    for (const layout::Control& c : layout::controls_of(parent)) {
      SCOPED_TRACE(c.name);
      check(parent == Parent::Window     ? nullptr
            : parent == Parent::PageMss7 ? "tabpage_mss7"
                                         : "tabpage_mss2000",
            c);
    }
}

// A field bound to the install form shows the form's stored text, any other
// control its layout text.
inline std::string initial_text(const layout::Control& c) {
  for (const layout::FieldBinding& b : layout::kFieldBindings)
    if (std::string_view(b.control) == c.name) return InstallForm().page(b.page)[b.field];
  return c.text;
}

// The controls the Tab key visits from the page's first one round to it
// again: the page's enabled controls in their tab order, the command buttons,
// the tab control.
inline std::vector<std::string> tab_round(layout::Parent page) {
  std::vector<std::string> names;
  for (const layout::Control* c : layout::tab_sequence(page))
    if (!(c->flags & layout::kDisabled)) names.push_back(c->name);
  names.insert(names.end(), {"cb_dbsetup", "cb_exit", "tab_1", names.front()});
  return names;
}

}  // namespace dbsetup::testing
