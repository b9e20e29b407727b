#pragma once

#include <optional>
#include <thread>

#include "app/form1_events.h"
#include "posix/signal_fd.h"

namespace app {

// SIGTERM, SIGINT and SIGHUP, which close the window as the user would: blocked and read from
// fd() by the event loop, or left to kill the program where they cannot be read.
class CloseSignals {
 public:
  CloseSignals();

  // The descriptor to wait on; -1 when the signals are not read.
  int fd() const { return signals_ ? signals_->fd() : -1; }

  // Takes every signal that came; true when one did.
  bool take() noexcept;

 private:
  std::optional<posix::SignalFd> signals_;
};

// While it lives, one of the close signals stops the program at once, from a thread of its own,
// with the line that says what did not go out.
class StopOnSignal {
 public:
  StopOnSignal(CloseSignals& signals, Form1Events& events);
  ~StopOnSignal();
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

 private:
  void watch();
  [[noreturn]] void stop();

  CloseSignals& signals_;
  Form1Events& events_;
  int wake_ = -1;
  std::thread thread_;  // last: starts once the above are set
};

}  // namespace app
