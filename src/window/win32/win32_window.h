#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/context.h"
#include "window/bound_window_ui.h"
#include "window/w_createdb_layout.h"

namespace dbsetup {

// The setup window w_createdb with the platform's own controls, built from
// the layout tables: one top-level window, the tab control tab_1 with its two
// pages (child windows of the tab control) and every control under its
// object name. It is its own WindowUi. Database calls run on a worker thread
// while the window keeps painting and takes no input. It is laid out for the
// DPI of its monitor and again whenever that changes (WM_DPICHANGED).
class Win32Window : public BoundWindowUi {
 public:
  Win32Window(Settings& gs, Transaction& sqlca, Platform& platform);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // The opening step for `edition`. On false the window has closed itself
  // (the detection has told the operator why) and must not be shown.
  bool open(const std::string& edition);
  // Shows the window with the keyboard focus in the first field of its page.
  void show();
  // Runs the message loop until the window has closed; returns 0.
  int run();
  // Keyboard handling of the message loop: Enter presses the default button,
  // Esc the cancel button, Tab and Shift+Tab follow the stored tab order;
  // then the dialog keys. True when the message was consumed.
  bool pre_translate(MSG& msg);

  HWND hwnd() const { return hwnd_; }
  // The control with this object name (pages included); null if unknown.
  HWND control(std::string_view name) const;
  // The object name of a control window (or of the control holding it).
  std::string name_of(HWND hwnd) const;
  SetupContext& context() { return ctx_; }
  bool installing() const { return installing_; }
  bool closed() const { return hwnd_ == nullptr; }
  bool busy() const { return busy_; }
  // The DPI the window is laid out for.
  int dpi() const { return dpi_; }

  // Called once the window has closed (the program ends its loop there).
  std::function<void()> on_closed;
  // When set, message boxes are answered here instead of being shown.
  MessageBoxHook message_box_hook;

  std::string text(std::string_view control) override;
  void set_text(std::string_view control, const std::string& value) override;
  void focus_control(std::string_view control) override;
  InstallForm& form() { return form_; }

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

 private:
  struct Created {
    const layout::Control* entry;
    HWND hwnd;
  };

  static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT handle(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void build();
  void create_controls(layout::Parent parent, HWND parent_hwnd);
  HWND create_control(const layout::Control& c, HWND parent);
  // Layout at dpi_ (win32_layout.cpp): every control's place, font and
  // picture, the labels on their fields' text lines, the client area.
  void lay_out();
  void place(const Created& c);
  void place_drop_down(const Created& c, const layout::PixelRect& r);
  int label_line_top(const Created& label, const layout::PixelRect& place);
  void fit_static(const Created& text);
  void fit_client();
  HFONT font(layout::Face face, int points, bool bold);
  HBITMAP picture(const char* file);
  void command(HWND from, int code);
  void install_clicked();
  void press(unsigned flag);
  void apply_install_enabled();
  void close();
  void move_focus(bool backwards);
  std::vector<HWND> tab_chain() const;
  bool on_gui_thread() const;
  void on_gui(const std::function<void()>& fn);
  void apply_progress(int percent);

  InstallForm form_;
  SetupContext ctx_;
  HWND hwnd_ = nullptr;
  HWND tab_ = nullptr;
  DWORD thread_ = 0;
  int dpi_ = layout::kDesignDpi;
  std::vector<Created> controls_;
  std::map<std::string, HWND, std::less<>> pages_;
  // By face, points, bold and DPI.
  std::map<std::tuple<layout::Face, int, bool, int>, HFONT> fonts_;
  std::map<std::string, HBITMAP> pictures_;  // by file and scale
  void* images_ = nullptr;                   // the instance list's image list (HIMAGELIST)
  int images_scale_ = 0;                     // the scale of its picture
  HBRUSH face_brush_ = nullptr;
  bool installing_ = false;
  bool busy_ = false;
  // What the procedure asked of the install button; while the procedure
  // runs the button is greyed whatever it asks.
  bool install_wanted_ = true;
  // focus() was called during the running install.
  bool focus_asked_ = false;
  // The control that had the focus when the window was last deactivated.
  HWND saved_focus_ = nullptr;
};

}  // namespace dbsetup
