#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/window_ui.h"

namespace dbsetup {

// A window without a toolkit: every visible effect recorded as an event,
// questions and dialogs answered by callbacks. The headless front end and
// the tests build on it; the fields are the InstallForm's.
class MemoryUi : public WindowUi {
 public:
  struct Event {
    enum Kind {
      Status,
      Heading,
      Title,
      MessageBox,
      Busy,
      InstallEnabled,
      Page,
      Progress,
      FormShown,
      Focus
    } kind;
    // Heading: the first line; MessageBox: the title; Page: "mss7" or
    // "mss2000"; Focus: the page and the field's number ("mss7 4")
    std::string control;
    std::string value;  // the new text, the second heading line, the message text
    int number = 0;     // Busy/InstallEnabled: 0/1; MessageBox: answer; Progress: percent
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::Information;
    int default_button = 1;
  };

  void form_changed() override;
  void focus(dbsetup::Page page, Field field) override;
  void set_status(const std::string& text) override;
  void set_headings(const std::string& line1, const std::string& line2) override;
  void set_title(const std::string& title) override;
  void set_install_enabled(bool enabled) override;
  bool install_enabled() override;
  void set_busy(bool busy) override;
  void show_page(dbsetup::Page page) override;
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

  // Answers Yes/No boxes; by default the box's default button.
  std::function<int(const std::string& title, const std::string& text, int default_button)> answer;
  // Answers the file-open dialog: the full path, or nullopt-like empty for cancel.
  std::function<std::string(const std::string& title)> choose_file;
  // Answers the folder chooser: the folder, or empty for cancel.
  std::function<std::string(const std::string& caption)> choose_folder;
  // Called for every event as it is recorded (the headless front end prints).
  std::function<void(const Event&)> on_event;

  // Inspection.
  std::vector<Event> events() const;
  std::vector<std::string> statuses() const;
  std::vector<Event> message_boxes() const;
  std::vector<std::string> instances() const;
  std::string title() const;
  std::string page() const;
  bool busy() const;
  int selected_instance() const;

 private:
  void record(Event e);

  mutable std::mutex mutex_;
  std::vector<Event> events_;
  std::vector<std::string> instances_;
  int selected_ = 0;
  std::string title_;
  std::string page_ = "mss2000";
  bool install_enabled_ = true;
  bool busy_ = false;
};

}  // namespace dbsetup
