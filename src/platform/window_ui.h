#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace dbsetup {

enum class MsgIcon { Information, Question, Exclamation, StopSign };
enum class MsgButtons { Ok, YesNo };

// Answers of a Yes/No message box.
inline constexpr int kYes = 1;
inline constexpr int kNo = 2;

// The operations of the setup window that the core uses. Controls are named
// by their object names (e.g. "sle_mss2000_servername", "st_status"). The Qt
// window implements it; tests and the headless front end implement it without
// a toolkit.
class WindowUi {
 public:
  virtual ~WindowUi() = default;

  // Text of an edit field or static text; the empty string for unknown names.
  virtual std::string text(std::string_view control) = 0;
  // Replaces the whole text; the new text shows at once.
  virtual void set_text(std::string_view control, const std::string& value) = 0;
  // Shorthand for the status line st_status.
  void set_status(const std::string& value) { set_text("st_status", value); }

  virtual void set_title(const std::string& title) = 0;
  virtual void set_install_enabled(bool enabled) = 0;
  virtual bool install_enabled() = 0;
  virtual void set_busy(bool busy) = 0;

  // Shows which tab page of tab_1 is visible and selected: "tabpage_mss7" or
  // "tabpage_mss2000"; the other page is hidden.
  virtual void show_page(std::string_view page) = 0;

  // Modal message box. With MsgButtons::Ok returns 1; with YesNo returns kYes
  // or kNo. `default_button` is 1 (Yes) or 2 (No).
  virtual int message_box(const std::string& title, const std::string& text,
                          MsgIcon icon = MsgIcon::Information, MsgButtons buttons = MsgButtons::Ok,
                          int default_button = 1) = 0;

  // The instance drop-down ddplb_mss2000_instances.
  virtual void instance_add(const std::string& entry) = 0;
  virtual int instance_count() = 0;
  // Selects entry `index` (from 1) without raising the selection handler.
  virtual void instance_select(int index) = 0;
  virtual std::string instance_text() = 0;

  // Modal file-open dialog. Returns 1 when a file was confirmed and fills the
  // full path and the bare file name; any other value leaves them alone.
  virtual int file_open_dialog(const std::string& title, const std::string& filter,
                               std::string& docname, std::string& named) = 0;
  // Modal folder chooser owned by the window; the empty string on cancel.
  virtual std::string browse_for_folder(const std::string& caption) = 0;
  // The window's native handle (an HWND on Windows), which owns the system's
  // own dialogs; null where there is none.
  virtual void* native_handle() { return nullptr; }

  // Restore progress: 0..100 shows the bar at that value, -1 hides it. May be
  // called from the thread that runs a database call.
  virtual void set_progress(int percent) = 0;

  // Moves the keyboard focus to that edit field with its whole text
  // selected (after a failure, the field it concerns).
  virtual void focus(std::string_view /*control*/) {}

  // Runs a blocking database call. A window keeps painting meanwhile and
  // takes no input; the default runs it in place.
  virtual void run_blocking(const std::function<void()>& work) { work(); }
};

// Answers a message box in place of the person (the tests set one on a real
// window, whose modal box would wait for someone).
using MessageBoxHook = std::function<int(const std::string& title, const std::string& text,
                                         MsgIcon icon, MsgButtons buttons, int default_button)>;

}  // namespace dbsetup
