#include "app/close_signals_posix.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <string>
#include <system_error>

#include "app/error_report.h"

namespace app {

// Made before the serial control, whose thread inherits the blocked set and so never takes
// them: the window's thread alone reads them, and what is queued still goes out.
CloseSignals::CloseSignals() {
  try {
    signals_.emplace(std::initializer_list<int>{SIGTERM, SIGINT, SIGHUP});
  } catch (const std::system_error&) {  // NOLINT(bugprone-empty-catch)
    // Without a way to read them they keep their default: better killed than deaf.
  }
}

bool CloseSignals::take() noexcept {
  bool came = false;
  try {
    while (signals_ && signals_->take() != 0) came = true;
  } catch (const std::system_error&) {  // NOLINT(bugprone-empty-catch)
    // A descriptor that cannot be read has nothing more to give.
  }
  return came;
}

// While the last receipt drains nobody runs the event loop: a signal that comes then (a second
// Ctrl+C, or the first after the user closed the window) is read here instead.
StopOnSignal::StopOnSignal(CloseSignals& signals, Form1Events& events)
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

StopOnSignal::~StopOnSignal() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    thread_.join();
  }
  if (wake_ >= 0) ::close(wake_);
}

void StopOnSignal::watch() {
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

void StopOnSignal::stop() {
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

}  // namespace app
