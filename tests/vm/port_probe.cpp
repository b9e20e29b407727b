// A second opener of a serial port in the virtual machine, for what the tests cannot see from
// the far end of the line: QEMU carries no modem lines to a pty and does not pace the bytes.
//
//   vm-port-probe observe PORT      holds PORT open; on SIGUSR1 prints its settings and modem
//                                   lines as the driver holds them, and ends
//   vm-port-probe stall PORT BYTES [--hand-over]
//                                   stops PORT's output (TCOOFF) until BYTES are queued behind
//                                   it. --hand-over then stops it on CTS instead (CRTSCTS with
//                                   CTS low), lets go of TCOOFF and closes, leaving the line
//                                   stopped to whoever else has it open; without it, holds the
//                                   port stopped until SIGTERM.
//   vm-port-probe break PORT TENTHS holds PORT in a break for TENTHS of a second; the kernel
//                                   keeps every other writer out meanwhile, so bytes wait in
//                                   the program that writes them (no pacing needed)
//   vm-port-probe hangup PORT       hangs PORT up for everyone who has it open, as the kernel
//                                   does when a USB adapter is pulled out (root only)
//
// Being open does not change the lines later openers set: each open raises DTR and RTS, and
// the program under test sets them after its own.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>

namespace {

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "vm-port-probe: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

int openPort(const char* path) {
  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) die(std::string("open ") + path);
  return fd;
}

int outputQueued(int fd) {
  int queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &queued) != 0) return -1;
  return queued;
}

int modemLines(int fd) {
  int lines = 0;
  if (::ioctl(fd, TIOCMGET, &lines) != 0) die("TIOCMGET");
  return lines;
}

// Blocks the signals first, so that one sent as soon as "ready" shows is not lost.
int waitFor(std::initializer_list<int> signals) {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : signals) sigaddset(&set, s);
  int got = 0;
  (void)sigwait(&set, &got);
  return got;
}

void blockSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : {SIGUSR1, SIGTERM, SIGINT}) sigaddset(&set, s);
  (void)sigprocmask(SIG_BLOCK, &set, nullptr);
}

unsigned baud(speed_t speed) {
  switch (speed) {
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B115200:
      return 115200;
    default:
      return 0;
  }
}

int dataBits(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

// One line of name=value words, for the test to compare.
void printState(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) die("tcgetattr");
  const int lines = modemLines(fd);
  const auto on = [](unsigned long flags, unsigned long bit) { return (flags & bit) ? 1 : 0; };
  std::printf(
      "ospeed=%u ispeed=%u data=%d parenb=%d cstopb=%d crtscts=%d ixon=%d ixoff=%d ixany=%d "
      "clocal=%d cread=%d hupcl=%d opost=%d dtr=%d rts=%d cts=%d dsr=%d cd=%d\n",
      baud(::cfgetospeed(&t)), baud(::cfgetispeed(&t)), dataBits(t.c_cflag), on(t.c_cflag, PARENB),
      on(t.c_cflag, CSTOPB), on(t.c_cflag, CRTSCTS), on(t.c_iflag, IXON), on(t.c_iflag, IXOFF),
      on(t.c_iflag, IXANY), on(t.c_cflag, CLOCAL), on(t.c_cflag, CREAD), on(t.c_cflag, HUPCL),
      on(t.c_oflag, OPOST), on(lines, TIOCM_DTR), on(lines, TIOCM_RTS), on(lines, TIOCM_CTS),
      on(lines, TIOCM_DSR), on(lines, TIOCM_CD));
  std::fflush(stdout);
}

int observe(const char* path) {
  blockSignals();
  const int fd = openPort(path);
  std::printf("ready\n");
  std::fflush(stdout);
  if (waitFor({SIGUSR1, SIGTERM, SIGINT}) == SIGUSR1) printState(fd);
  ::close(fd);
  return 0;
}

int stall(const char* path, int bytes, bool handOver) {
  using namespace std::chrono;
  blockSignals();
  const int fd = openPort(path);
  if (::tcflow(fd, TCOOFF) != 0) die("tcflow TCOOFF");
  std::printf("stopped\n");
  std::fflush(stdout);
  // The program under test opens the port and queues its bytes now.
  const auto until = steady_clock::now() + seconds(30);
  int queued = 0;
  while ((queued = outputQueued(fd)) < bytes) {
    if (queued < 0) die("TIOCOUTQ");
    if (steady_clock::now() > until) {
      std::fprintf(stderr, "vm-port-probe: only %d of %d bytes queued in 30 s\n", queued, bytes);
      return 1;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  std::printf("queued %d\n", queued);
  std::fflush(stdout);
  if (!handOver) {
    (void)waitFor({SIGTERM, SIGINT});
    ::close(fd);
    return 0;
  }
  // The kernel discards the output of a port stopped with TCOOFF when it is last closed; one
  // stopped on CTS it waits for, up to its closing_wait. The flags also stay for the next
  // opener to clear.
  if (modemLines(fd) & TIOCM_CTS) {
    std::fprintf(stderr, "vm-port-probe: CTS is up: the line cannot be held on it\n");
    return 1;
  }
  termios t{};
  if (::tcgetattr(fd, &t) != 0) die("tcgetattr");
  t.c_cflag |= CRTSCTS;
  t.c_iflag |= IXON | IXOFF;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) die("tcsetattr");
  if (::tcflow(fd, TCOON) != 0) die("tcflow TCOON");
  std::this_thread::sleep_for(milliseconds(200));
  queued = outputQueued(fd);
  if (queued < bytes) {
    std::fprintf(stderr, "vm-port-probe: the line did not hold on CTS: %d bytes left\n", queued);
    return 1;
  }
  std::printf("held %d on CTS\n", queued);
  std::fflush(stdout);
  ::close(fd);
  return 0;
}

int hold_break(const char* path, int tenths) {
  const int fd = openPort(path);
  std::printf("breaking\n");
  std::fflush(stdout);
  // Returns once the break is over, or at once when the port has gone.
  (void)::ioctl(fd, TCSBRKP, tenths);
  std::printf("break over\n");
  ::close(fd);
  return 0;
}

int hangup(const char* path) {
  const int fd = openPort(path);
  if (::ioctl(fd, TIOCVHANGUP) != 0) die("TIOCVHANGUP");
  std::printf("hung up\n");
  ::close(fd);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "observe" && argc == 3) return observe(argv[2]);
  if (command == "stall" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "--hand-over"))) {
    return stall(argv[2], std::atoi(argv[3]), argc == 5);
  }
  if (command == "break" && argc == 4) return hold_break(argv[2], std::atoi(argv[3]));
  if (command == "hangup" && argc == 3) return hangup(argv[2]);
  std::fprintf(stderr,
               "usage: vm-port-probe observe PORT | stall PORT BYTES [--hand-over] | "
               "break PORT TENTHS | hangup PORT\n");
  return 2;
}
