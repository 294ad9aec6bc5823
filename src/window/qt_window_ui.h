#pragma once

#include <QPointer>
#include <QStringList>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "window/bound_window_ui.h"

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
class QtWindowUi : public BoundWindowUi {
 public:
  explicit QtWindowUi(QWidget& window);
  ~QtWindowUi() override;

  // Collects the named controls and binds the form's fields to theirs; call
  // once the window's controls exist.
  void attach(InstallForm& form);

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

  std::string text(std::string_view control) override;
  void set_text(std::string_view control, const std::string& value) override;
  void focus_control(std::string_view control) override;

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
  std::map<std::string, QPointer<QWidget>, std::less<>> controls_;
  bool busy_ = false;
  bool install_wanted_ = true;
  bool install_running_ = false;
  bool focus_asked_ = false;
};

}  // namespace dbsetup
