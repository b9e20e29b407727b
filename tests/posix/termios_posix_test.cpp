#include "serial/internal/termios_posix.h"
#include "serial/internal/port_name_posix.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "serial/device.h"
#include "serial/serial_error.h"
#include "tests/support/failures.h"
#include "tests/support/framing_cases.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using serial::ErrorCode;
using serial::Settings;
using serial::internal::makeTermios;

// The line a termios describes, in the words of kFramingCases ("19200 7E2 XON/XOFF"): an input
// speed of its own after a slash, flow control that is neither handshake by its flags.
std::string lineOf(const termios& t) {
  const auto baud = [](speed_t speed) {
    const std::pair<speed_t, const char*> speeds[] = {{B1200, "1200"},
                                                      {B9600, "9600"},
                                                      {B19200, "19200"},
                                                      {B38400, "38400"},
                                                      {B115200, "115200"}};
    for (const auto& [s, name] : speeds) {
      if (s == speed) return std::string(name);
    }
    return std::string("?");
  };
  std::string line = baud(cfgetospeed(&t));
  if (cfgetispeed(&t) != cfgetospeed(&t)) line += "/" + baud(cfgetispeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5:
      line += " 5";
      break;
    case CS6:
      line += " 6";
      break;
    case CS7:
      line += " 7";
      break;
    default:
      line += " 8";
  }
  line += !(t.c_cflag & PARENB) ? "N" : (t.c_cflag & PARODD) ? "O" : "E";
  line += (t.c_cflag & CSTOPB) ? "2" : "1";
  const std::string flow = testing_support::flowWords(
      {
          {(t.c_cflag & CRTSCTS) != 0, "CRTSCTS"},
          {(t.c_iflag & IXON) != 0, "IXON"},
          {(t.c_iflag & IXOFF) != 0, "IXOFF"},
          {(t.c_iflag & IXANY) != 0, "IXANY"},
      },
      "CRTSCTS", "IXON+IXOFF");
  return flow.empty() ? line : line + " " + flow;
}

// What a fresh terminal has: cooked, echoing, LF to CR LF.
termios cooked() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXANY | ISTRIP | INLCR;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
  t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 5;
  (void)cfsetispeed(&t, B38400);
  (void)cfsetospeed(&t, B38400);
  return t;
}

TEST(Termios, SettingsATermiosCannotHoldAreNamedAsOnWindows) {
  for (const auto& c : testing_support::kUnsupportedCases) {
    EXPECT_EQ(serial::internal::unsupportedSettings(c.settings), c.named);
  }
  // termios has no such speed; Windows leaves that to the driver.
  EXPECT_EQ(serial::internal::unsupportedSettings({.baud = 12345}), "baud rate 12345");
}

TEST(Termios, TheDefaultSettingsMakeARawLineWhateverThePortHad) {
  for (const termios& from : {termios{}, cooked()}) {
    const termios t = makeTermios(Settings{}, from);
    SCOPED_TRACE(from.c_lflag ? "from a cooked port" : "from a zeroed one");
    EXPECT_EQ(cfgetospeed(&t), speed_t{B9600});
    EXPECT_EQ(cfgetispeed(&t), speed_t{B9600});
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS8});
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);  // LF leaves as LF, not CR LF
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
  }
}

TEST(Termios, EveryFramingReachesTheLineWhateverThePortHad) {
  for (const auto& c : testing_support::kFramingCases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(lineOf(makeTermios(c.settings, cooked())), c.line);
  }
}

TEST(Termios, AReadBackNamesWhatThePortKeptOfWhatMatters) {
  const termios wanted = makeTermios(Settings{}, termios{});
  const struct {
    const char* name;
    void (*change)(termios&);
    const char* kept;
  } cases[] = {
      {"all taken", [](termios&) {}, ""},
      {"speed",
       [](termios& t) {
         (void)cfsetospeed(&t, B19200);
         (void)cfsetispeed(&t, B19200);
       },
       "output speed 19200 instead of 9600, input speed 19200 instead of 9600"},
      {"framing and flow control",
       [](termios& t) {
         t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CRTSCTS;
         t.c_iflag |= IXON;
       },
       "data bits 7 instead of 8, PARENB 1 instead of 0, CRTSCTS 1 instead of 0, "
       "IXON 1 instead of 0"},
      {"LF to CR LF", [](termios& t) { t.c_oflag |= OPOST | ONLCR; }, "OPOST 1 instead of 0"},
      {"CR to LF on input", [](termios& t) { t.c_iflag |= ICRNL; }, "ICRNL 1 instead of 0"},
      // Not what decides whether the printer reads the bytes.
      {"modem control and echo", [](termios& t) { t.c_cflag &= ~CLOCAL, t.c_lflag |= ECHO; }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    termios got = wanted;
    c.change(got);
    EXPECT_EQ(serial::internal::lineSettingsMismatch(wanted, got), c.kept);
  }
}

TEST(Termios, ThePortIsNamedAsTheKernelNamesTheDeviceBehindIt) {
  testing_support::PtyPair pty;
  const testing_support::TempDir dir;
  const std::filesystem::path& sysfs = dir.path();
  struct stat st {};
  ASSERT_EQ(stat(pty.slavePath().c_str(), &st), 0);
  const std::string number =
      std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  std::filesystem::create_directories(sysfs / "dev" / "char");
  std::filesystem::create_directory_symlink("../../devices/pci0000:00/usb1/1-1/ttyUSB0/tty/ttyUSB0",
                                            sysfs / "dev" / "char" / number);
  EXPECT_EQ(serial::internal::kernelName(pty.slavePath(), sysfs), "ttyUSB0");
  // Pseudo-terminals have no entry of their own.
  EXPECT_EQ(serial::internal::kernelName(pty.slavePath()), "");
  EXPECT_EQ(serial::internal::kernelName("/nonexistent/ttyS0", sysfs), "");

  EXPECT_EQ(serial::internal::shownDevice("/dev/ttyS0", "ttyUSB0"), "/dev/ttyUSB0 as /dev/ttyS0");
  EXPECT_EQ(serial::internal::shownDevice("/dev/ttyS0", "ttyS0"), "/dev/ttyS0");
  EXPECT_EQ(serial::internal::shownDevice("/dev/pts/3", ""), "/dev/pts/3");
}

// A setting the line cannot carry is refused, as on Windows, before the port is touched:
// nothing is quietly sent in another framing.
TEST(PosixDeviceSettings, WhatTheLineCannotCarryIsRefusedAndThePortKeepsItsSettings) {
  const struct {
    Settings settings;
    const char* says;
  } cases[] = {
      {{.dataBits = 9}, "tcsetattr: unsupported: 9 data bits."},
      {{.dataBits = 4}, "tcsetattr: unsupported: 4 data bits."},
      {{.stopBits = 3}, "tcsetattr: unsupported: 3 stop bits."},
      {{.baud = 12345}, "tcsetattr: unsupported: baud rate 12345."},
      {{.writeTimeout = -1ms}, "tcsetattr: unsupported: write timeout."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    testing_support::PtyPair pty;
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);
    const serial::SerialError e = testing_support::errorOpening(pty.slavePath(), c.settings);
    EXPECT_EQ(e.code(), ErrorCode::SettingsRejected);
    EXPECT_NE(e.description().find("COM1 (" + pty.slavePath() + "): " + c.says), std::string::npos)
        << e.what();
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
  }
}

}  // namespace
