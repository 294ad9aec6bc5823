#include "app/memory_ui.h"

#include <utility>

namespace dbsetup {

void MemoryUi::record(Event e) {
  std::function<void(const Event&)> hook;
  {
    std::lock_guard lock(mutex_);
    events_.push_back(e);
    hook = on_event;
  }
  if (hook) hook(e);
}

void MemoryUi::form_changed() { record({Event::FormShown, "", ""}); }

void MemoryUi::focus(dbsetup::Page page, Field field) {
  record({Event::Focus,
          std::string(page_name(page)) + " " + std::to_string(static_cast<int>(field)), ""});
}

void MemoryUi::set_status(const std::string& text) { record({Event::Status, "", text}); }

void MemoryUi::set_headings(const std::string& line1, const std::string& line2) {
  record({Event::Heading, line1, line2});
}

void MemoryUi::set_title(const std::string& title) {
  {
    std::lock_guard lock(mutex_);
    title_ = title;
  }
  record({Event::Title, "", title});
}

void MemoryUi::set_install_enabled(bool enabled) {
  {
    std::lock_guard lock(mutex_);
    install_enabled_ = enabled;
  }
  record({Event::InstallEnabled, "", "", enabled ? 1 : 0});
}

bool MemoryUi::install_enabled() {
  std::lock_guard lock(mutex_);
  return install_enabled_;
}

void MemoryUi::set_busy(bool busy) {
  {
    std::lock_guard lock(mutex_);
    busy_ = busy;
  }
  record({Event::Busy, "", "", busy ? 1 : 0});
}

void MemoryUi::show_page(dbsetup::Page page) {
  {
    std::lock_guard lock(mutex_);
    page_ = page_name(page);
  }
  record({Event::Page, page_name(page), ""});
}

int MemoryUi::message_box(const std::string& title, const std::string& text, MsgIcon icon,
                          MsgButtons buttons, int default_button) {
  int result = 1;
  if (buttons == MsgButtons::YesNo) {
    result = answer ? answer(title, text, default_button) : default_button;
  }
  Event e{Event::MessageBox, title, text, result, buttons, icon, default_button};
  record(std::move(e));
  return result;
}

void MemoryUi::instance_add(const std::string& entry) {
  std::lock_guard lock(mutex_);
  instances_.push_back(entry);
}

int MemoryUi::instance_count() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(instances_.size());
}

void MemoryUi::instance_select(int index) {
  std::lock_guard lock(mutex_);
  if (index >= 1 && index <= static_cast<int>(instances_.size())) selected_ = index;
}

std::string MemoryUi::instance_text() {
  std::lock_guard lock(mutex_);
  if (selected_ < 1 || selected_ > static_cast<int>(instances_.size())) return {};
  return instances_[selected_ - 1];
}

int MemoryUi::file_open_dialog(const std::string& title, const std::string& /*filter*/,
                               std::string& docname, std::string& named) {
  std::string chosen = choose_file ? choose_file(title) : std::string();
  if (chosen.empty()) return 0;
  docname = chosen;
  auto cut = chosen.find_last_of("\\/");
  named = cut == std::string::npos ? chosen : chosen.substr(cut + 1);
  return 1;
}

std::string MemoryUi::browse_for_folder(const std::string& caption) {
  return choose_folder ? choose_folder(caption) : std::string();
}

void MemoryUi::set_progress(int percent) { record({Event::Progress, "", "", percent}); }

std::vector<MemoryUi::Event> MemoryUi::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<std::string> MemoryUi::statuses() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& e : events_)
    if (e.kind == Event::Status) out.push_back(e.value);
  return out;
}

std::vector<MemoryUi::Event> MemoryUi::message_boxes() const {
  std::lock_guard lock(mutex_);
  std::vector<Event> out;
  for (const auto& e : events_)
    if (e.kind == Event::MessageBox) out.push_back(e);
  return out;
}

std::vector<std::string> MemoryUi::instances() const {
  std::lock_guard lock(mutex_);
  return instances_;
}

std::string MemoryUi::title() const {
  std::lock_guard lock(mutex_);
  return title_;
}

std::string MemoryUi::page() const {
  std::lock_guard lock(mutex_);
  return page_;
}

bool MemoryUi::busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

int MemoryUi::selected_instance() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

}  // namespace dbsetup
