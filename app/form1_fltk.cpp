#include "app/error_report.h"
#include "app/form1.h"
#include "app/form1_events.h"
#include "app/form1_layout.h"
#include "texts/texts.h"

// Xlib's headers, through FLTK's too, define None, True and Status: after the project's own.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/XKBlib.h>
#include <X11/Xresource.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

// FLTK 1.3 reads its global options (visible focus, tooltips) from Fl_Preferences the first
// time anything asks for them, and writes the preference files back: $HOME/.fltk/fltk.org/
// fltk.prefs, and as root /etc/fltk. Only Fl_Button's handling and drawing of the focus and
// FLTK's own message boxes ask here, so the window's button and its error box are this file's
// own, and nothing in the program touches a file.

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

// A push button as Windows has it: the left mouse button clicks on release inside it; Space
// pushes it down and clicks once, on release (a held key's repeats change nothing); Enter
// clicks at once and at every repeat, as the dialog manager does for the default button.
// Escape and everything else are left to others.
class PushButton : public Fl_Button {
 public:
  using Fl_Button::Fl_Button;

  int handle(int event) override {
    switch (event) {
      case FL_ENTER:
      case FL_LEAVE:
        return 1;
      case FL_FOCUS:
        redraw();
        return 1;
      case FL_UNFOCUS:
        // Windows lets a held Space go without a click when the focus moves away.
        spaceDown_ = false;
        look(mouseDown_ && Fl::event_inside(this));
        redraw();
        return 1;
      case FL_PUSH:
        if (Fl::event_button() != FL_LEFT_MOUSE) return 0;
        (void)take_focus();
        mouseDown_ = true;
        look(true);
        return 1;
      case FL_DRAG:
        if (mouseDown_) look(spaceDown_ || Fl::event_inside(this));
        return 1;
      case FL_RELEASE:
        if (!mouseDown_ || Fl::event_button() != FL_LEFT_MOUSE) return 1;
        mouseDown_ = false;
        if (!spaceDown_) release(Fl::event_inside(this));
        return 1;
      case FL_KEYBOARD:
        if (Fl::focus() != this || (Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META))) {
          return 0;
        }
        if (Fl::event_key() == ' ') {
          spaceDown_ = true;
          look(true);
          return 1;
        }
        if (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) {
          do_callback();
          return 1;
        }
        return 0;
      case FL_KEYUP:
        if (Fl::event_key() != ' ' || !spaceDown_) return 0;
        spaceDown_ = false;
        if (!mouseDown_) release(true);
        return 1;
      default:
        return 0;
    }
  }

  void draw() override {
    const bool down = value() != 0;
    const Fl_Color face = down ? selection_color() : color();
    draw_box(down ? (down_box() ? down_box() : fl_down(box())) : box(), face);
    const Fl_Color text = labelcolor();
    if (down) labelcolor(fl_contrast(text, face));
    draw_label();
    labelcolor(text);
    if (Fl::focus() == this) {
      // Fl_Widget::draw_focus's dotted frame, without its question to the global options.
      const Fl_Boxtype b = box();
      fl_color(fl_contrast(FL_BLACK, color()));
      fl_line_style(FL_DOT);
      fl_rect(x() + Fl::box_dx(b), y() + Fl::box_dy(b), w() - Fl::box_dw(b) - 1,
              h() - Fl::box_dh(b) - 1);
      fl_line_style(FL_SOLID);
    }
  }

 private:
  void look(bool down) {
    if ((value() != 0) != down) value(down ? 1 : 0);
  }
  void release(bool click) {
    look(false);
    if (click) do_callback();
  }

  bool mouseDown_ = false;
  bool spaceDown_ = false;
};

// FLTK draws '@' sequences in labels as symbols: "@@" is a plain '@'.
std::string plainLabel(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c;
    if (c == '@') out += '@';
  }
  return out;
}

void say(const std::string& line) { (void)std::fprintf(stderr, "Project1: %s\n", line.c_str()); }

// The error box: the report, an icon and OK, modal over Form1, and never larger than the
// screen it is on: on a small screen the text gets smaller, and OK always stays in view.
class ErrorBox {
 public:
  ErrorBox(const std::string& text, int dpi, int screenX, int screenY)
      : text_(plainLabel(text)),
        window_(1, 1, kProgramTitle),
        icon_(0, 0, 1, 1, "!"),
        message_(0, 0, 1, 1),
        ok_(0, 0, 1, 1, okText_.c_str()) {
    window_.end();
    window_.set_modal();
    icon_.box(FL_THIN_UP_BOX);
    icon_.labelfont(FL_TIMES_BOLD);
    icon_.color(FL_WHITE);
    icon_.labelcolor(FL_RED);
    message_.label(text_.c_str());
    message_.align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    ok_.callback([](Fl_Widget*, void* box) { static_cast<ErrorBox*>(box)->window_.hide(); }, this);
    layOut(dpi, screenX, screenY);
  }

  // Until OK, Enter, Escape, the window manager's close, or hide().
  void run() {
    window_.show();
    (void)ok_.take_focus();
    while (window_.shown()) Fl::wait();
  }

  void hide() { window_.hide(); }

 private:
  void layOut(int dpi, int screenX, int screenY) {
    int areaX = 0, areaY = 0, areaW = 0, areaH = 0;
    Fl::screen_work_area(areaX, areaY, areaW, areaH, screenX, screenY);
    const int margin = scaledFrom96(12, dpi);
    const int icon = scaledFrom96(40, dpi);
    const int buttonW = scaledFrom96(90, dpi);
    const int buttonH = scaledFrom96(26, dpi);
    // The window manager's title bar and borders, in its own unscaled pixels.
    constexpr int kFrameW = 16;
    constexpr int kFrameH = 48;
    const int roomW = areaW - kFrameW;
    const int roomH = areaH - kFrameH;
    // A box draws its label 3 pixels in from either side.
    constexpr int kInset = 3;
    const int widest =
        std::max(std::min(scaledFrom96(400, dpi), roomW - icon - 3 * margin - 2 * kInset), 40);

    int size = scaledFrom96(FL_NORMAL_SIZE, dpi);
    const int smallest = std::min(size, 8);
    int textW = 0, textH = 0;
    for (;; --size) {
      fl_font(FL_HELVETICA, size);
      textW = widest;
      textH = 0;
      fl_measure(text_.c_str(), textW, textH);
      if (3 * margin + std::max(textH, icon) + buttonH <= roomH || size <= smallest) break;
    }
    const int W =
        std::min(std::max(3 * margin + icon + textW + 2 * kInset, buttonW + 2 * margin), roomW);
    const int H = std::min(3 * margin + std::max(textH, icon) + buttonH, roomH);
    window_.resize(areaX + std::max((roomW - W) / 2, 0), areaY + std::max((roomH - H) / 2, 0), W,
                   H);
    icon_.resize(margin, margin, icon, icon);
    icon_.labelsize(scaledFrom96(34, dpi));
    message_.resize(2 * margin + icon, margin, W - 3 * margin - icon, H - 3 * margin - buttonH);
    message_.labelsize(size);
    ok_.resize((W - buttonW) / 2, H - margin - buttonH, buttonW, buttonH);
    ok_.labelsize(size);
  }

  std::string text_;
  std::string okText_ = texts::text(texts::Text::Ok);  // FLTK keeps a label's pointer
  Fl_Window window_;
  Fl_Box icon_;
  Fl_Box message_;
  PushButton ok_;
};

// SIGTERM, SIGINT and SIGHUP close the window, as the user would: what is queued still goes
// out. They are blocked and read from a signalfd in the event loop; made before the serial
// control, whose thread inherits the blocked set and so never takes them.
class CloseSignals {
 public:
  CloseSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
    if (pthread_sigmask(SIG_BLOCK, &set, &previous_) != 0) return;
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    // Without a way to read them they keep their default: better killed than deaf.
    if (fd_ < 0) (void)pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  ~CloseSignals() {
    // Still blocked: one that comes while the program ends must not kill it half way.
    if (fd_ >= 0) ::close(fd_);
  }
  CloseSignals(const CloseSignals&) = delete;
  CloseSignals& operator=(const CloseSignals&) = delete;

  int fd() const { return fd_; }

  // Takes every signal that came; true when one did.
  bool take() const {
    bool came = false;
    signalfd_siginfo info{};
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) came = true;
    return came;
  }

 private:
  int fd_ = -1;
  sigset_t previous_{};
};

// While the last receipt drains nobody runs the event loop: a signal that comes then (a second
// Ctrl+C, or the first after the user closed the window) is read on a thread of its own and
// stops the program at once, saying what did not go out.
class StopOnSignal {
 public:
  StopOnSignal(const CloseSignals& signals, Form1Events& events)
      : signals_(signals), events_(events) {
    if (signals_.fd() < 0) return;
    wake_ = eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) return;
    try {
      thread_ = std::thread([this] { watch(); });
    } catch (const std::system_error&) {  // NOLINT(bugprone-empty-catch)
      // No thread: the drain runs to its own limits, as it always could.
    }
  }
  ~StopOnSignal() {
    if (thread_.joinable()) {
      const std::uint64_t one = 1;
      (void)!::write(wake_, &one, sizeof one);
      thread_.join();
    }
    if (wake_ >= 0) ::close(wake_);
  }
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

 private:
  void watch() {
    pollfd fds[] = {{signals_.fd(), POLLIN, 0}, {wake_, POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      if (signals_.take()) stop();
    }
  }

  [[noreturn]] void stop() {
    std::string line = "Project1: stopped before the receipt was sent\n";
    try {
      line = "Project1: " + events_.stopNow() + "\n";
    } catch (...) {  // NOLINT(bugprone-empty-catch): the plainer line stands
    }
    (void)!::write(STDERR_FILENO, line.data(), line.size());
    // _exit, not exit: the window's thread is inside the serial control, waiting for a device
    // call that may never return; exit's destructors would pull the control away under it or
    // wait with it. The kernel closes the port; stopNow() undid what closing leaves.
    ::_exit(kErrorExitCode);
  }

  const CloseSignals& signals_;
  Form1Events& events_;
  int wake_ = -1;
  std::thread thread_;  // last: starts once the above are set
};

class Form1;
Form1* liveForm = nullptr;  // for the fatal handler, which has no other way to reach it

class Form1 {
 public:
  explicit Form1(int dpi) : Form1(dpi, form1Layout(dpi)) {}
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
