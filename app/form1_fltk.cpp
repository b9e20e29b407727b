#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "form1.h"
#include "mscomm.h"
#include "run_time.h"

namespace app {
namespace {

// X11 reports 96 dots per inch for the usual screen; FLTK 1.3 does not scale.
constexpr int kDpi = 96;

// A push button that, like a native one, also answers Enter while it has the focus.
class PushButton : public Fl_Button {
 public:
  using Fl_Button::Fl_Button;
  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::focus() == this &&
        (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) &&
        !(Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META))) {
      do_callback();
      return 1;
    }
    return Fl_Button::handle(event);
  }
};

// FLTK's message box does not wrap: break long paragraphs at spaces.
std::string wrapped(const std::string& text, std::size_t width = 72) {
  std::string out;
  std::size_t column = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\n') {
      out += '\n';
      column = 0;
      ++i;
      continue;
    }
    const std::size_t end = std::min(text.find_first_of(" \n", i), text.size());
    const std::size_t word = end - i;
    if (column > 0 && column + 1 + word > width) {
      out += '\n';
      column = 0;
    } else if (column > 0) {
      out += ' ';
      ++column;
    }
    out.append(text, i, word);
    column += word;
    i = end < text.size() && text[end] == ' ' ? end + 1 : end;
  }
  return out;
}

class Form1 {
 public:
  Form1()
      : window_(toPixels(kClientWidth, kDpi), toPixels(kClientHeight, kDpi), kFormCaption),
        Command1_(toPixels(kButtonLeft, kDpi), toPixels(kButtonTop, kDpi),
                  toPixels(kButtonWidth, kDpi), toPixels(kButtonHeight, kDpi), kButtonCaption) {
    window_.end();
    Command1_.callback(&Form1::onClick, this);
    // Bytes that fail after a click has returned are reported all the same, on this thread.
    MSComm1_.setFailureListener([this] { Fl::awake(&Form1::onLateFailure, this); });
  }

  int run() {
    window_.show();
    Command1_.take_focus();
    while (!ended_ && Fl::first_window()) Fl::wait();
    Fl::flush();  // the window goes now, not after the last bytes have drained
    // Closed right after a click: the receipt may still be going out, and may still fail.
    if (!ended_) {
      if (const auto failure = MSComm1_.finish()) {
        end(ErrorReport{failure->number(), failure->description()});
      }
    }
    return exitCode_;
  }

 private:
  static void onClick(Fl_Widget*, void* self) { static_cast<Form1*>(self)->click(); }
  static void onLateFailure(void* self) { static_cast<Form1*>(self)->lateFailure(); }

  void click() {
    if (ended_) return;
    if (const auto report = Command1_Click(MSComm1_)) end(*report);
  }

  void lateFailure() {
    if (ended_) return;
    if (const auto failure = MSComm1_.takeFailure()) {
      end(ErrorReport{failure->number(), failure->description()});
    }
  }

  // An error ends the program once the user has seen it.
  void end(const ErrorReport& report) {
    ended_ = true;
    fl_message_title(kProgramTitle);
    fl_alert("%s", wrapped(report.text()).c_str());
    exitCode_ = kErrorExitCode;
    window_.hide();
  }

  serial::MSComm MSComm1_;  // first in, last out: the port outlives the window
  Fl_Window window_;
  PushButton Command1_;
  bool ended_ = false;
  int exitCode_ = 0;
};

// FLTK's own fatal handler prints and calls exit(1) too; this one says who is speaking.
void fatal(const char* format, ...) {
  char message[512];
  std::va_list args;
  va_start(args, format);
  (void)std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  (void)std::fprintf(stderr, "Project1: %s\n", message);
  std::exit(2);
}

}  // namespace

int runForm1() {
  Fl::fatal = fatal;
  Fl::lock();  // lets the serial control's thread wake the event loop
  fl_close = "OK";
  Form1 form;
  return form.run();
}

}  // namespace app
