#pragma once

#include <QPointer>
#include <QStringList>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "app/window_ui.h"

class QWidget;

namespace dbsetup {

// Name filters for a Qt file dialog from a filter list of the form
// "Description,pattern[,Description,pattern...]" (patterns separated by ';').
// Each choice keeps its description; elsewhere than on Windows "*.*" becomes
// "*" so that file names without a dot are listed too.
QStringList qt_name_filters(const std::string& filter);

// The setup window seen through WindowUi. Controls are found by object name
// among the window's descendants (looked up once, when attach() runs).
// Calls from a thread other than the window's are carried over to it.
class QtWindowUi : public WindowUi {
 public:
  explicit QtWindowUi(QWidget& window);
  ~QtWindowUi() override;

  // Collects the named controls and binds the form's fields to theirs; call
  // once the window's controls exist.
  void attach(InstallForm& form);
  // The fields' texts into the form, before a command of the window runs.
  void pull_form();

  void form_changed() override;
  void focus(Page page, Field field) override;
  void set_status(const std::string& text) override;
  void set_headings(const std::string& line1, const std::string& line2) override;
  void set_title(const std::string& title) override;
  void set_install_enabled(bool enabled) override;
  bool install_enabled() override;
  void set_busy(bool busy) override;
  void show_page(Page page) override;
  int message_box(const std::string& title, const std::string& text, MsgIcon icon,
                  MsgButtons buttons, int default_button) override;
  void instance_add(const std::string& entry) override;
  int instance_count() override;
  void instance_select(int index) override;
  std::string instance_text() override;
  int file_open_dialog(const std::string& title, const std::string& filter, std::string& docname,
                       std::string& named) override;
  std::string browse_for_folder(const std::string& caption) override;
  void set_progress(int percent) override;
  void run_blocking(const std::function<void()>& work) override;

  // The text of a control (an edit field's, a label's, a list's current
  // entry, a button's), and a new text for an edit field or a label.
  std::string text(std::string_view control);
  void set_text(std::string_view control, const std::string& value);
  // Moves the keyboard focus to a control, selecting an edit field's text.
  void focus_control(std::string_view control);

  // When set, message boxes are answered here instead of being shown.
  MessageBoxHook message_box_hook;

  bool busy() const { return busy_; }

  // While the install procedure runs the install button is greyed, whatever
  // the procedure asks; afterwards it is as the procedure last asked.
  void set_install_running(bool running);
  // focus() was called since the install started.
  bool focus_asked() const { return focus_asked_; }

 private:
  QWidget* find(std::string_view name) const;
  bool on_gui_thread() const;
  // Runs `fn` on the window's thread and waits for it.
  void on_gui(const std::function<void()>& fn);

  QWidget& window_;
  InstallForm* form_ = nullptr;
  std::map<std::string, QPointer<QWidget>, std::less<>> controls_;
  bool busy_ = false;
  bool install_wanted_ = true;
  bool install_running_ = false;
  bool focus_asked_ = false;
};

}  // namespace dbsetup
