#include "app/close_signals_posix.h"
#include "app/error_box_fltk.h"
#include "app/error_report.h"
#include "app/form1.h"
#include "app/form1_events.h"
#include "app/form1_layout.h"
#include "app/push_button_fltk.h"

// Xlib's headers, through FLTK's too, define None, True and Status: after the project's own.
#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <X11/XKBlib.h>
#include <X11/Xresource.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>

namespace app {
namespace {

constexpr int kBaseDpi = 96;

// The dots per inch desktop toolkits on X11 lay out with: the Xft.dpi resource that the
// desktop (or xrdb) sets on the screen, else 96. The screen's millimetres are not used: X
// servers commonly make them up from 96 dpi, or from a monitor's wrong EDID.
int displayDpi() {
  fl_open_display();
  const char* resources = XResourceManagerString(fl_display);
  if (!resources) return kBaseDpi;
  XrmInitialize();
  XrmDatabase database = XrmGetStringDatabase(resources);
  if (!database) return kBaseDpi;
  int dpi = kBaseDpi;
  char* type = nullptr;
  XrmValue value{};
  if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr) {
    char* end = nullptr;
    const double given = std::strtod(value.addr, &end);
    if (end != value.addr && given >= 48 && given <= 960) {
      dpi = static_cast<int>(std::lround(given));
    }
  }
  XrmDestroyDatabase(database);
  return dpi;
}

void say(const std::string& line) { (void)std::fprintf(stderr, "Project1: %s\n", line.c_str()); }

class Form1;
Form1* liveForm = nullptr;  // for the fatal handler, which has no other way to reach it

class Form1 {
 public:
  explicit Form1(int dpi) : Form1(dpi, form1Layout(dpi)) {}
  ~Form1() {
    liveForm = nullptr;
    if (signals_.fd() >= 0) Fl::remove_fd(signals_.fd());
  }
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  int run() {
    window_.show();
    (void)Command1_.take_focus();
    while (!events_.ended() && Fl::first_window()) Fl::wait();
    Fl::flush();  // the window goes now, not after the last bytes have drained
    // Closed right after a click: the receipt may still be going out, and may still fail.
    std::optional<ErrorReport> report;
    {
      const StopOnSignal stop(signals_, events_);
      report = events_.close();
    }
    end(report);
    return events_.exitCode();
  }

  // The display is gone: nothing can be shown, but what was queued still goes out (bounded),
  // and stderr says how that went.
  void displayLost() noexcept {
    std::optional<std::string> line;
    {
      const StopOnSignal stop(signals_, events_);
      line = events_.displayLost();
    }
    if (line) say(*line);
  }

 private:
  Form1(int dpi, const Form1Layout& layout)
      : dpi_(dpi),
        window_(layout.clientWidth, layout.clientHeight, kFormCaption),
        Command1_(layout.command1.x, layout.command1.y, layout.command1.width,
                  layout.command1.height, kButtonCaption) {
    window_.end();
    window_.callback(&Form1::onClose, this);
    Command1_.labelsize(scaledFrom96(FL_NORMAL_SIZE, dpi));
    Command1_.callback(&Form1::onClick, this);
    // Fl::awake hands the call to the event loop's thread; Fl::lock() lets any thread make it.
    events_.wakeOnLateFailure([this] { Fl::awake(&Form1::onLateFailure, this); });
    if (signals_.fd() >= 0) Fl::add_fd(signals_.fd(), FL_READ, &Form1::onSignal, this);
    liveForm = this;
  }

  static void onClick(Fl_Widget*, void* self) {
    auto* form = static_cast<Form1*>(self);
    form->end(form->events_.click());
  }
  static void onLateFailure(void* self) {
    auto* form = static_cast<Form1*>(self);
    form->end(form->events_.lateFailure());
  }
  static void onSignal(int, void* self) { static_cast<Form1*>(self)->signalled(); }
  static void onClose(Fl_Widget*, void* self) {
    // FLTK closes a window on Escape through the same callback; Windows' window ignores it.
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    static_cast<Form1*>(self)->window_.hide();
  }

  void signalled() {
    if (!signals_.take()) return;
    signalled_ = true;
    if (box_) box_->hide();  // as OK would: the program then ends with the error's code
    window_.hide();
  }

  // An error ends the program once the user has seen it; stderr has it too. Closed by a
  // signal, nobody may be there to see a box: stderr only.
  void end(const std::optional<ErrorReport>& report) {
    if (!report) return;
    const std::string text = report->text();
    say(report->line());
    if (!signalled_) {
      ErrorBox box(text, dpi_, window_.x() + window_.w() / 2, window_.y() + window_.h() / 2);
      box_ = &box;
      box.run();
      box_ = nullptr;
    }
    window_.hide();
  }

  CloseSignals signals_;  // before the serial control's thread is made
  Form1Events events_;    // with MSComm1: the port outlives the window
  int dpi_;
  Fl_Window window_;
  PushButton Command1_;
  ErrorBox* box_ = nullptr;  // while one is showing
  bool signalled_ = false;   // closed by a signal
};

// Called by FLTK for what it cannot go on after, above all a lost X server ("X I/O error"),
// from inside Xlib: it must not return. FLTK's own prints and calls exit(1).
void fatal(const char* format, ...) {
  char message[512];
  std::va_list args;
  va_start(args, format);
  // clang-tidy's va_list check misfires here when one run reads another file first.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  (void)std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (!liveForm) {
    // Before Form1 was there: the display could not be opened.
    try {
      say(noWindowText(message));
    } catch (...) {  // NOLINT(bugprone-empty-catch): it must not return; the exit code says it
    }
    std::exit(kNoWindowExitCode);
  }
  say(message);
  liveForm->displayLost();
  std::exit(kNoWindowExitCode);
}

}  // namespace

int runForm1() {
  Fl::fatal = fatal;
  Fl::lock();  // lets the serial control's thread wake the event loop
  const int dpi = displayDpi();
  // A held key sends key presses only: no made-up releases between them for a button to
  // take as a click.
  Bool detectable = False;
  (void)XkbSetDetectableAutoRepeat(fl_display, True, &detectable);
  std::optional<Form1> form;
  try {
    form.emplace(dpi);
  } catch (const std::exception& e) {
    say(noWindowText(e.what()));
    return kNoWindowExitCode;
  }
  return form->run();
}

}  // namespace app
