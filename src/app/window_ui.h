#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/install_form.h"

namespace dbsetup {

enum class MsgIcon { Information, Question, Exclamation, StopSign };
enum class MsgButtons { Ok, YesNo };

// Answers of a Yes/No message box.
inline constexpr int kYes = 1;
inline constexpr int kNo = 2;

// What the core asks of the setup window besides its fields, which it reads
// and writes in the InstallForm that the window binds its controls to. The
// Qt and Win32 windows implement it; tests and the headless front end
// implement it without a toolkit.
class WindowUi {
 public:
  virtual ~WindowUi() = default;

  // The form's fields changed: the window shows them (at once).
  virtual void form_changed() = 0;
  // Moves the keyboard focus to that field of the page with its whole text
  // selected (after a failure, the field it concerns).
  virtual void focus(Page /*page*/, Field /*field*/) {}

  // The status line; the new text shows at once.
  virtual void set_status(const std::string& text) = 0;
  // The two title lines of the banner.
  virtual void set_headings(const std::string& line1, const std::string& line2) = 0;
  virtual void set_title(const std::string& title) = 0;
  virtual void set_install_enabled(bool enabled) = 0;
  virtual bool install_enabled() = 0;
  virtual void set_busy(bool busy) = 0;

  // Shows the tab page of an edition, visible and selected; the other page
  // is hidden.
  virtual void show_page(Page page) = 0;

  // Modal message box. With MsgButtons::Ok returns 1; with YesNo returns kYes
  // or kNo. `default_button` is 1 (Yes) or 2 (No).
  virtual int message_box(const std::string& title, const std::string& text,
                          MsgIcon icon = MsgIcon::Information, MsgButtons buttons = MsgButtons::Ok,
                          int default_button = 1) = 0;

  // The SQL Server 2000 instance list.
  virtual void instance_add(const std::string& entry) = 0;
  virtual int instance_count() = 0;
  // Selects entry `index` (from 1) without raising the selection handler.
  virtual void instance_select(int index) = 0;
  virtual std::string instance_text() = 0;

  // Modal file-open dialog. Returns 1 when a file was confirmed and fills the
  // full path and the bare file name; any other value leaves them alone.
  virtual int file_open_dialog(const std::string& title, const std::string& filter,
                               std::string& docname, std::string& named) = 0;
  // Modal folder chooser owned by the window (the shell's on Windows); the
  // empty string on cancel.
  virtual std::string browse_for_folder(const std::string& caption) = 0;

  // Restore progress: 0..100 shows the bar at that value, -1 hides it. May be
  // called from the thread that runs a database call.
  virtual void set_progress(int percent) = 0;

  // Runs a blocking database call. A window keeps painting meanwhile and
  // takes no input; the default runs it in place.
  virtual void run_blocking(const std::function<void()>& work) { work(); }
};

// Answers a message box in place of the person (the tests set one on a real
// window, whose modal box would wait for someone).
using MessageBoxHook = std::function<int(const std::string& title, const std::string& text,
                                         MsgIcon icon, MsgButtons buttons, int default_button)>;

}  // namespace dbsetup
