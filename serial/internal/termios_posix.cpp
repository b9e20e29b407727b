#include "serial/internal/termios_posix.h"

#include "texts/texts.h"

namespace serial::internal {
namespace {

constexpr struct {
  unsigned baud;
  speed_t speed;
} kSpeeds[] = {{1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
               {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};

speed_t speedFor(unsigned baud) {
  for (const auto& s : kSpeeds) {
    if (s.baud == baud) return s.speed;
  }
  return B0;
}

unsigned baudOf(speed_t speed) {
  for (const auto& s : kSpeeds) {
    if (s.speed == speed) return s.baud;
  }
  return 0;
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

int dataBitsOf(tcflag_t cflag) {
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

}  // namespace

std::string unsupportedSettings(const Settings& s) {
  if (speedFor(s.baud) == B0) return "baud rate " + std::to_string(s.baud);
  if (auto framing = unsupportedFraming(s); !framing.empty()) return framing;
  // A negative timeout would fail the first write that has to wait.
  if (s.writeTimeout.count() < 0) return "write timeout";
  return {};
}

termios makeTermios(const Settings& s, const termios& current) {
  termios tio = current;
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= characterSize(s.dataBits) | CLOCAL | CREAD;
  if (s.parity != Parity::None) tio.c_cflag |= PARENB;
  if (s.parity == Parity::Odd) tio.c_cflag |= PARODD;
  if (s.stopBits == 2) tio.c_cflag |= CSTOPB;
  if (s.handshaking == Handshaking::RtsCts) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (s.handshaking == Handshaking::XonXoff) tio.c_iflag |= IXON | IXOFF;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  // Cannot fail for a speed from the table.
  (void)::cfsetispeed(&tio, speedFor(s.baud));
  (void)::cfsetospeed(&tio, speedFor(s.baud));
  return tio;
}

std::string lineSettingsMismatch(const termios& wanted, const termios& got) {
  std::string kept;
  const auto check = [&](const std::string& name, unsigned long w, unsigned long g) {
    if (w == g) return;
    if (!kept.empty()) kept += texts::text(texts::Text::ListSeparator);
    kept += texts::text(texts::Text::KeptInstead, {name, std::to_string(g), std::to_string(w)});
  };
  check(texts::text(texts::Text::OutputSpeed), baudOf(::cfgetospeed(&wanted)),
        baudOf(::cfgetospeed(&got)));
  check(texts::text(texts::Text::InputSpeed), baudOf(::cfgetispeed(&wanted)),
        baudOf(::cfgetispeed(&got)));
  check(texts::text(texts::Text::DataBits), dataBitsOf(wanted.c_cflag), dataBitsOf(got.c_cflag));
  const struct {
    const char* name;
    tcflag_t termios::*field;
    tcflag_t bit;
  } flags[] = {
      {"PARENB", &termios::c_cflag, PARENB},
      {"PARODD", &termios::c_cflag, PARODD},
      {"CSTOPB", &termios::c_cflag, CSTOPB},
      {"CRTSCTS", &termios::c_cflag, CRTSCTS},
      {"IXON", &termios::c_iflag, IXON},
      {"IXOFF", &termios::c_iflag, IXOFF},
      {"IXANY", &termios::c_iflag, IXANY},
      {"ICRNL", &termios::c_iflag, ICRNL},
      {"INLCR", &termios::c_iflag, INLCR},
      {"ISTRIP", &termios::c_iflag, ISTRIP},
      // LF must leave as LF, not CR LF.
      {"OPOST", &termios::c_oflag, OPOST},
  };
  for (const auto& f : flags) {
    check(f.name, (wanted.*f.field & f.bit) != 0, (got.*f.field & f.bit) != 0);
  }
  return kept;
}

}  // namespace serial::internal
