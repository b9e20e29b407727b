#include "device_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "serial_error.h"
#include "unique_fd_posix.h"

namespace serial {
namespace {

using Clock = std::chrono::steady_clock;

std::string reason(int err) {
  return std::string(std::strerror(err)) + " (errno " + std::to_string(err) + ")";
}

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
    fd_ = UniqueFd(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
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
    // TIOCEXCL keeps other users out, but root ignores it; the advisory lock is what
    // other well-behaved programs (and a second copy of this one) check.
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      fail(err == EWOULDBLOCK ? ErrorCode::InUse : ErrorCode::OpenFailed, "lock", err);
    }
    if (::ioctl(fd_.get(), TIOCEXCL) != 0) fail(ErrorCode::OpenFailed, "TIOCEXCL", errno);
    applyLineSettings();
    setModemLines();
  }

  void write(std::string_view bytes) override {
    auto deadline = Clock::now() + settings_.writeTimeout;
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_.get(), bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        deadline = Clock::now() + settings_.writeTimeout;
        continue;
      }
      const int err = n < 0 ? errno : EAGAIN;
      if (err == EINTR) continue;
      if (err != EAGAIN) fail(ErrorCode::WriteFailed, "write", err);
      waitWritable(deadline);
    }
  }

  void drain() override {
    // Wait for the kernel's queue to empty at line speed, bounded; tcdrain alone could
    // wait for ever on a line that stopped moving.
    int queued = 0;
    auto deadline = Clock::now() + settings_.writeTimeout;
    while (::ioctl(fd_.get(), TIOCOUTQ, &queued) == 0 && queued > 0) {
      if (Clock::now() >= deadline) fail(ErrorCode::WriteTimedOut, "drain", ETIMEDOUT);
      const auto step = lineTime(settings_, static_cast<std::size_t>(queued));
      std::this_thread::sleep_for(std::min<std::chrono::microseconds>(
          std::max<std::chrono::microseconds>(step, std::chrono::microseconds(500)),
          std::chrono::milliseconds(20)));
      int now = 0;
      if (::ioctl(fd_.get(), TIOCOUTQ, &now) == 0 && now < queued) {
        deadline = Clock::now() + settings_.writeTimeout;
      }
    }
    // The UART's own FIFO: a few bytes at most.
    while (::tcdrain(fd_.get()) != 0) {
      if (errno != EINTR) fail(ErrorCode::WriteFailed, "drain", errno);
    }
  }

 private:
  [[noreturn]] void fail(ErrorCode code, const char* operation, int err) const {
    std::string advice = adviceFor(code);
    if (code == ErrorCode::PermissionDenied) {
      advice =
          "Permission denied: add the user to the dialout group (then log in again), "
          "or run as a user allowed to use the port.";
    }
    throw SerialError(code, describe(portName(settings_), path_, operation, reason(err), advice));
  }

  void waitWritable(Clock::time_point deadline) {
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) fail(ErrorCode::WriteTimedOut, "write", ETIMEDOUT);
      pollfd p{fd_.get(), POLLOUT, 0};
      const int r = ::poll(&p, 1, static_cast<int>(left));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) fail(ErrorCode::WriteFailed, "poll", errno);
      if (r == 0) continue;
      // Hung up with nothing writable: the device went away.
      if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) {
        fail(ErrorCode::WriteFailed, "write", EIO);
      }
      return;
    }
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
    // A pseudo-terminal has no modem lines and refuses these; a real port must take them.
    const auto set = [&](unsigned long request, int bits) {
      if (::ioctl(fd_.get(), request, &bits) != 0 && errno != ENOTTY && errno != EINVAL) {
        fail(ErrorCode::SettingsRejected, "set DTR/RTS", errno);
      }
    };
    set(settings_.dtrEnable ? TIOCMBIS : TIOCMBIC, TIOCM_DTR);
    set(settings_.rtsEnable ? TIOCMBIS : TIOCMBIC, TIOCM_RTS);
  }

  std::string path_;
  Settings settings_;
  UniqueFd fd_;
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
