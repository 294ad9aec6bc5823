#pragma once

#include <QDialog>
#include <QRect>
#include <QSize>
#include <memory>
#include <string>

#include "app/context.h"
#include "window/w_createdb_layout.h"

class QCloseEvent;

namespace dbsetup {

class QtWindowUi;

// Layout units to pixels (layout::to_pixels) as a QRect.
QRect layout_rect(int x, int y, int width, int height);

// Client area of the window in Qt's pixels: the layout's at 96 dpi (Qt
// scales the whole window on screens of another DPI).
QSize client_size();

// The setup window: banner, the tab control with one page per server edition,
// the status line and the two command buttons. Every control carries its
// layout name as object name. The window owns its state and the context that
// the window functions receive; its WindowUi is the Qt one below.
class w_createdb : public QDialog {
  Q_OBJECT

 public:
  w_createdb(Settings& gs, Transaction& sqlca, Platform& platform, QWidget* parent = nullptr);
  ~w_createdb() override;

  // The opening step for `edition`. On false the window has closed itself
  // (the detection has told the operator why) and must not be shown.
  bool open(const std::string& edition);

  SetupContext& context() { return ctx_; }
  InstallForm& form() { return form_; }
  QtWindowUi& ui() { return *ui_; }
  // True while the install procedure runs.
  bool installing() const { return installing_; }

 signals:
  // The window has closed (exit button, Esc or the close box).
  void closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Esc: presses the exit button.
  void reject() override;

 private:
  void build();
  // The pictures at the size nearest below the screen's scale, shown pixel
  // for pixel (again when the window moves to a screen of another scale).
  void show_pictures(qreal device_pixel_ratio);
  void connect_handlers();
  void install_clicked();

  InstallForm form_;
  std::unique_ptr<QtWindowUi> ui_;
  SetupContext ctx_;
  bool installing_ = false;
  bool screen_watched_ = false;
};

}  // namespace dbsetup
