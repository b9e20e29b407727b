#include "device_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "modem_lines_posix.h"
#include "posix/unique_fd.h"
#include "serial_error.h"

namespace serial {
namespace {

using Clock = std::chrono::steady_clock;

std::string reason(int err) {
  return std::string(std::strerror(err)) + " (errno " + std::to_string(err) + ")";
}

std::string silence(std::chrono::milliseconds limit, int queued) {
  std::string text = "nothing sent for " + std::to_string(limit.count()) + " ms";
  if (queued > 0) text += " (" + std::to_string(queued) + " bytes still queued)";
  return text;
}

// A Unix 98 pseudo-terminal's slave, or an old BSD one: no line, no modem lines, and an output
// queue the kernel does not show.
bool isPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return (m >= 136 && m <= 143) || m == 3;
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

speed_t speedFor(unsigned baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

tcflag_t characterSize(int dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

class PosixDevice final : public Device {
 public:
  PosixDevice(std::string path, const Settings& settings)
      : path_(std::move(path)), settings_(settings) {
    fd_ = posix::UniqueFd(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_) {
      const int err = errno;
      switch (err) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
        case EIO:
          fail(ErrorCode::NoSuchPort, "open", err);
        case EBUSY:
          fail(ErrorCode::InUse, "open", err);
        case EACCES:
        case EPERM:
          fail(ErrorCode::PermissionDenied, "open", err);
        case EISDIR:
          fail(ErrorCode::NotSerialDevice, "open", err);
        default:
          fail(ErrorCode::OpenFailed, "open", err);
      }
    }
    if (!::isatty(fd_.get())) fail(ErrorCode::NotSerialDevice, "open", ENOTTY);
    pseudoTerminal_ = isPseudoTerminal(fd_.get());
    // Where the kernel does not show the output queue, room comes back only in bursts.
    limit_ = settings_.writeTimeout +
             (pseudoTerminal_ ? unseenQueueAllowance(settings_) : std::chrono::milliseconds(0));
    // TIOCEXCL keeps other users out, but root ignores it; the advisory lock is what
    // other well-behaved programs (and a second copy of this one) check.
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      fail(err == EWOULDBLOCK ? ErrorCode::InUse : ErrorCode::OpenFailed, "lock", err);
    }
    // Root gets in past another program's exclusive mode: that port is still in use, and its
    // settings are not ours to change.
    int exclusive = 0;
    if (::ioctl(fd_.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
      fail(ErrorCode::InUse, "open", "another program holds the port in exclusive mode");
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
    auto lastProgress = Clock::now();
    int queued = outputQueued();
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        progressed();
        lastProgress = Clock::now();
        continue;
      }
      const int err = n < 0 ? errno : EAGAIN;
      if (err == EINTR) continue;
      if (err != EAGAIN) fail(ErrorCode::WriteFailed, "write", err);
      if (Clock::now() - lastProgress >= limit_) {
        fail(ErrorCode::WriteTimedOut, "write", silence(limit_, queued));
      }
      if (!waitWritable(std::chrono::milliseconds(50))) {
        const int now = outputQueued();
        if (now < queued) {
          progressed();
          lastProgress = Clock::now();
        }
        queued = now;
      }
    }
  }

  void drain() override {
    // At line speed, watching the kernel's queue: tcdrain could wait for ever on a wedged
    // adapter. Once the queue is empty only the UART's FIFO is left, which close() waits for
    // and drivers bound by its size.
    auto lastProgress = Clock::now();
    for (int queued = outputQueued(); queued > 0;) {
      if (Clock::now() - lastProgress >= limit_) {
        fail(ErrorCode::WriteTimedOut, "drain", silence(limit_, queued));
      }
      std::this_thread::sleep_for(std::clamp<std::chrono::microseconds>(
          lineTime(settings_, static_cast<std::size_t>(queued)), std::chrono::microseconds(500),
          std::chrono::milliseconds(20)));
      const int now = outputQueued();
      if (now < queued) {
        progressed();
        lastProgress = Clock::now();
      }
      queued = now;
    }
    drained_ = true;
  }

 private:
  [[noreturn]] void fail(ErrorCode code, const char* operation, int err) const {
    fail(code, operation, reason(err));
  }

  [[noreturn]] void fail(ErrorCode code, const char* operation, const std::string& why) const {
    std::string advice = adviceFor(code);
    if (code == ErrorCode::PermissionDenied) {
      advice =
          "Permission denied: add the user to the dialout group (then log in again), "
          "or run as a user allowed to use the port.";
    }
    throw SerialError(code, describe(portName(settings_), path_, operation, why, advice));
  }

  // Bytes the kernel still holds for the line; 0 where it cannot say.
  int outputQueued() const {
    int queued = 0;
    return ::ioctl(fd_.get(), TIOCOUTQ, &queued) == 0 ? queued : 0;
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
      fail(ErrorCode::WriteFailed, "write", EIO);
    }
    return true;
  }

  void applyLineSettings() {
    termios tio{};
    if (::tcgetattr(fd_.get(), &tio) != 0) fail(ErrorCode::NotSerialDevice, "tcgetattr", errno);
    const speed_t speed = speedFor(settings_.baud);
    if (speed == B0) fail(ErrorCode::SettingsRejected, "set speed", EINVAL);
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= characterSize(settings_.dataBits) | CLOCAL | CREAD;
    if (settings_.parity != Parity::None) tio.c_cflag |= PARENB;
    if (settings_.parity == Parity::Odd) tio.c_cflag |= PARODD;
    if (settings_.stopBits == 2) tio.c_cflag |= CSTOPB;
    if (settings_.handshaking == Handshaking::RtsCts) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (settings_.handshaking == Handshaking::XonXoff) tio.c_iflag |= IXON | IXOFF;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) {
      fail(ErrorCode::SettingsRejected, "cfsetspeed", errno);
    }
    if (::tcsetattr(fd_.get(), TCSANOW, &tio) != 0)
      fail(ErrorCode::SettingsRejected, "tcsetattr", errno);

    // tcsetattr succeeds if any one change took; check that all of them did.
    termios back{};
    if (::tcgetattr(fd_.get(), &back) != 0) fail(ErrorCode::SettingsRejected, "tcgetattr", errno);
    constexpr tcflag_t cflags = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
    constexpr tcflag_t iflags = IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP;
    if ((back.c_cflag & cflags) != (tio.c_cflag & cflags) ||
        (back.c_iflag & iflags) != (tio.c_iflag & iflags) || (back.c_oflag & OPOST) ||
        ::cfgetospeed(&back) != speed || ::cfgetispeed(&back) != speed) {
      fail(ErrorCode::SettingsRejected, "tcsetattr", EINVAL);
    }
  }

  void setModemLines() {
    const int fd = fd_.get();
    const int err =
        serial::setModemLines(settings_, pseudoTerminal_, [fd](unsigned long request, int bits) {
          return ::ioctl(fd, request, &bits) == 0 ? 0 : errno;
        });
    if (err != 0) fail(ErrorCode::SettingsRejected, "set DTR/RTS", err);
  }

  std::string path_;
  Settings settings_;
  posix::UniqueFd fd_;
  ExclusiveMode exclusive_;  // after fd_: cleared before the descriptor closes
  bool pseudoTerminal_ = false;
  bool drained_ = true;  // nothing written since the last drain
  std::chrono::milliseconds limit_{0};
};

}  // namespace

std::unique_ptr<Device> openPosixDevice(const std::string& path, const Settings& settings) {
  return std::make_unique<PosixDevice>(path, settings);
}

std::unique_ptr<Device> openDevice(const Settings& settings) {
  return openPosixDevice(devicePath(settings.port), settings);
}

std::string devicePath(int port) { return "/dev/ttyS" + std::to_string(port - 1); }

}  // namespace serial
