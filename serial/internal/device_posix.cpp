#include "serial/device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <utility>

#include "posix/pty.h"
#include "posix/unique_fd.h"
#include "serial/internal/line_watch.h"
#include "serial/internal/modem_lines_posix.h"
#include "serial/internal/os_error.h"
#include "serial/internal/port_holders_posix.h"
#include "serial/internal/port_name_posix.h"
#include "serial/internal/termios_posix.h"
#include "serial/serial_error.h"
#include "texts/texts.h"

namespace serial::internal {
namespace {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal has no line, no modem lines, and an output queue the kernel does not show.
bool isPseudoTerminal(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && posix::isPtySlave(st.st_rdev);
}

// Exclusive mode on a tty, cleared again before the descriptor is closed: Linux keeps it for
// as long as the tty lives, and every later opener but root would then find the port busy.
class ExclusiveMode {
 public:
  ExclusiveMode() = default;
  explicit ExclusiveMode(int fd) : fd_(fd) {}
  ExclusiveMode(ExclusiveMode&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ExclusiveMode& operator=(ExclusiveMode&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ExclusiveMode(const ExclusiveMode&) = delete;
  ExclusiveMode& operator=(const ExclusiveMode&) = delete;
  ~ExclusiveMode() {
    if (fd_ >= 0) (void)::ioctl(fd_, TIOCNXCL);
  }

 private:
  int fd_ = -1;
};

using texts::Text;

class PosixDevice final : public Device {
 public:
  PosixDevice(std::string path, const Settings& settings)
      : path_(std::move(path)), settings_(settings) {
    // Named as the kernel names it: another device may stand on /dev/ttyS0.
    if (auto name = kernelName(path_); !name.empty()) {
      shown_ = shownDevice(path_, name);
      kind_.kernelName = std::move(name);
    }
    failIfHeld();
    fd_ = posix::UniqueFd(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_) failOpening(errno);
    if (!::isatty(fd_.get())) failOpening(ENOTTY);
    pseudoTerminal_ = isPseudoTerminal(fd_.get());
    kind_.pseudoTerminal = pseudoTerminal_;
    // TIOCEXCL keeps other users out, but root ignores it; the advisory lock is what
    // other well-behaved programs (and a second copy of this one) check.
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      fail(err == EWOULDBLOCK ? ErrorCode::InUse : ErrorCode::OpenFailed, Text::DoingLock, err);
    }
    // Root gets in past another program's exclusive mode: that port is still in use, and its
    // settings are not ours to change.
    int exclusive = 0;
    if (::ioctl(fd_.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
      fail(ErrorCode::InUse, Text::DoingOpen, texts::text(Text::ExclusiveElsewhere));
    }
    if (::ioctl(fd_.get(), TIOCEXCL) != 0) fail(ErrorCode::OpenFailed, "TIOCEXCL", errno);
    exclusive_ = ExclusiveMode(fd_.get());
    applyLineSettings();
    setModemLines();
  }

  ~PosixDevice() override {
    // Undrained output would hold close() for the driver's closing time (30 s by default).
    // A pseudo-terminal's close never waits, and its reader may still take what is there.
    if (!drained_ && !pseudoTerminal_) (void)::tcflush(fd_.get(), TCOFLUSH);
  }
  PosixDevice(const PosixDevice&) = delete;
  PosixDevice& operator=(const PosixDevice&) = delete;
  PosixDevice(PosixDevice&&) = delete;
  PosixDevice& operator=(PosixDevice&&) = delete;

  void write(std::string_view bytes) override {
    drained_ = false;
    // Fails only when the line stands still: nothing taken and the output queue not shrinking.
    LineWatch watch(settings_, queueView(), Clock::now());
    (void)watch.queued(outputQueued(), Clock::now());
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        watch.taken(Clock::now());
        took(static_cast<std::size_t>(n));
        continue;
      }
      const int err = n < 0 ? errno : EAGAIN;
      if (err == EINTR) continue;
      if (err != EAGAIN) fail(ErrorCode::WriteFailed, Text::DoingWrite, err);
      if (watch.stopped(Clock::now())) {
        fail(ErrorCode::WriteTimedOut, Text::DoingWrite, watch.standingStill());
      }
      if (!waitWritable(std::chrono::milliseconds(50)) &&
          watch.queued(outputQueued(), Clock::now())) {
        progressed();
      }
    }
  }

  // Exclusive mode outlives the process on a tty that stays open elsewhere (a pty's reader).
  // A real port's last close waits for its output queue (up to 30 s on a stalled line): it is
  // discarded, and counted as not sent. A pseudo-terminal's close never waits, and its reader
  // may still take what is there.
  std::size_t abandon() noexcept override {
    (void)::ioctl(fd_.get(), TIOCNXCL);
    if (pseudoTerminal_) return 0;
    const std::size_t queued = outputQueued().value_or(0);
    (void)::tcflush(fd_.get(), TCOFLUSH);
    return queued;
  }

  void drain() override {
    // At line speed, watching the kernel's queue: tcdrain could wait for ever on a wedged
    // adapter. Once the queue is empty only the UART's FIFO is left, which close() waits for
    // and drivers bound by its size.
    const auto reason = drainQueue(
        settings_, queueView(), std::chrono::microseconds(500), [this] { return stillToDrain(); },
        [this] { progressed(); });
    if (reason) fail(ErrorCode::WriteTimedOut, Text::DoingDrain, *reason);
    drained_ = true;
  }

 private:
  [[noreturn]] void fail(ErrorCode code, Operation operation, int err) const {
    fail(code, operation, systemReason(err));
  }

  [[noreturn]] void fail(ErrorCode code, Operation operation, const std::string& reason,
                         const std::string& advice = {}) const {
    // Linux's own advice for every error of the port, not only those of open().
    throw serialError(code, portName(settings_), shown_, operation.text(), reason,
                      advice.empty() ? internal::advice(code, kind_) : advice);
  }

  [[noreturn]] void failOpening(int err) const {
    fail(openErrorCode(err), Text::DoingOpen, systemReason(err), openAdvice(err, kind_));
  }

  // A program that has the port open without exclusive mode (a login console's getty) would
  // mix its bytes with the receipt: refused as Windows refuses any second opener, before
  // open() raises DTR. Only the holders this user may see are found.
  void failIfHeld() const {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return;  // open() says why
    const auto holders = portHolders(st.st_rdev);
    if (!holders.empty()) {
      fail(ErrorCode::InUse, Text::DoingOpen,
           texts::text(Text::InUseBy, {describeHolders(holders)}));
    }
  }

  // The kernel does not show a pseudo-terminal's output queue: room comes back in bursts.
  QueueView queueView() const { return pseudoTerminal_ ? QueueView::Hidden : QueueView::Shown; }

  // Bytes the kernel still holds for the line; nullopt where it cannot say.
  std::optional<std::size_t> outputQueued() const {
    int queued = 0;
    if (::ioctl(fd_.get(), TIOCOUTQ, &queued) != 0 || queued < 0) return std::nullopt;
    return static_cast<std::size_t>(queued);
  }

  // The output queue while it drains. A real port hung up meanwhile (a USB adapter pulled out)
  // answers EIO, and the kernel has discarded what it held: not sent. A pseudo-terminal is hung
  // up when its reader closes, which may be after it read everything.
  std::optional<std::size_t> stillToDrain() const {
    errno = 0;
    const auto queued = outputQueued();
    if (!queued && errno == EIO && !pseudoTerminal_)
      fail(ErrorCode::WriteFailed, Text::DoingDrain, EIO);
    return queued;
  }

  // Waits up to `slice` for room; false when none came.
  bool waitWritable(std::chrono::milliseconds slice) {
    pollfd p{fd_.get(), POLLOUT, 0};
    const int r = ::poll(&p, 1, static_cast<int>(slice.count()));
    if (r < 0 && errno == EINTR) return true;
    if (r < 0) fail(ErrorCode::WriteFailed, "poll", errno);
    if (r == 0) return false;
    // Hung up with nothing writable: the device went away.
    if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
      fail(ErrorCode::WriteFailed, Text::DoingWrite, EIO);
    }
    return true;
  }

  void applyLineSettings() {
    if (const auto bad = unsupportedSettings(settings_); !bad.empty()) {
      fail(ErrorCode::SettingsRejected, "tcsetattr", texts::text(Text::Unsupported, {bad}));
    }
    termios current{};
    if (::tcgetattr(fd_.get(), &current) != 0) {
      fail(ErrorCode::NotSerialDevice, "tcgetattr", errno);
    }
    const termios wanted = makeTermios(settings_, current);
    if (::tcsetattr(fd_.get(), TCSANOW, &wanted) != 0) {
      fail(ErrorCode::SettingsRejected, "tcsetattr", errno);
    }
    // tcsetattr succeeds if any one change took; check that all of them did.
    termios got{};
    if (::tcgetattr(fd_.get(), &got) != 0) fail(ErrorCode::SettingsRejected, "tcgetattr", errno);
    if (const auto kept = lineSettingsMismatch(wanted, got); !kept.empty()) {
      fail(ErrorCode::SettingsRejected, "tcsetattr", texts::text(Text::PortKept, {kept}));
    }
  }

  void setModemLines() {
    const int fd = fd_.get();
    const int err =
        internal::setModemLines(settings_, pseudoTerminal_, [fd](unsigned long request, int bits) {
          return ::ioctl(fd, request, &bits) == 0 ? 0 : errno;
        });
    if (err != 0) fail(ErrorCode::SettingsRejected, Text::DoingSetModemLines, err);
  }

  std::string path_;
  std::string shown_ = path_;  // in the texts
  PortKind kind_;              // for the advice
  Settings settings_;
  posix::UniqueFd fd_;
  ExclusiveMode exclusive_;  // after fd_: cleared before the descriptor closes
  bool pseudoTerminal_ = false;
  bool drained_ = true;  // nothing written since the last drain
};

}  // namespace
}  // namespace serial::internal

namespace serial {

std::unique_ptr<Device> openDeviceAt(const std::string& path, const Settings& settings) {
  return std::make_unique<internal::PosixDevice>(path, settings);
}

std::unique_ptr<Device> openDevice(const Settings& settings) {
  return openDeviceAt(devicePath(settings.port), settings);
}

std::string devicePath(int port) { return "/dev/ttyS" + std::to_string(port - 1); }

}  // namespace serial
