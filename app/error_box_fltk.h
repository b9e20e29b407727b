#pragma once

#include <FL/Fl_Box.H>
#include <FL/Fl_Window.H>

#include <string>

#include "app/push_button_fltk.h"

namespace app {

// The error box: a report's text, an icon and OK, modal, laid out at `dpi` on the screen that
// holds the point (screenX, screenY) and never larger than that screen's work area.
class ErrorBox {
 public:
  ErrorBox(const std::string& text, int dpi, int screenX, int screenY);
  ErrorBox(const ErrorBox&) = delete;
  ErrorBox& operator=(const ErrorBox&) = delete;

  // Shows the box until OK, Enter, Escape, the window manager's close, or hide().
  void run();
  void hide() { window_.hide(); }

 private:
  void layOut(int dpi, int screenX, int screenY);

  std::string source_;
  std::string text_;  // FLTK keeps a label's pointer: these outlive the widgets
  std::string okText_;
  Fl_Window window_;
  Fl_Box icon_;
  Fl_Box message_;
  PushButton ok_;
};

}  // namespace app
