#include "serial/internal/os_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/language.h"
#include "tests/support/reachable_errors.h"

namespace {

namespace internal = serial::internal;
using serial::ErrorCode;
using serial::internal::PortKind;

// Port 1 as the machine's own UART, a USB adapter standing in for it, a pseudo-terminal.
const PortKind kKinds[] = {{}, {"ttyUSB0", false}, {"ttyS0", true}};

TEST(OsError, OpenErrorsFollowWhatTheSystemSaid) {
  const struct {
    int err;
    ErrorCode code;
  } cases[] = {
      {ENOENT, ErrorCode::NoSuchPort},
      {ENXIO, ErrorCode::NoSuchPort},
      {ENODEV, ErrorCode::NoSuchPort},
      {EIO, ErrorCode::NoSuchPort},
      {EBUSY, ErrorCode::InUse},
      {EACCES, ErrorCode::PermissionDenied},
      {EPERM, ErrorCode::PermissionDenied},
      {EISDIR, ErrorCode::NotSerialDevice},
      {ENOTTY, ErrorCode::NotSerialDevice},
      {EMFILE, ErrorCode::OpenFailed},
      {ENAMETOOLONG, ErrorCode::OpenFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    EXPECT_EQ(internal::openErrorCode(c.err), c.code);
    EXPECT_EQ(internal::openAdvice(c.err), internal::advice(c.code));
  }
  // Linux names the usual culprits.
  const struct {
    ErrorCode code;
    std::vector<const char*> names;
  } culprits[] = {
      {ErrorCode::NoSuchPort,
       {"No such port", "/dev/ttyUSB0 or /dev/ttyACM0", "project1-port /dev/ttyUSB0", "brltty"}},
      {ErrorCode::InUse,
       {"in use by another program", "systemctl stop serial-getty@ttyS0", "ModemManager", "brltty",
        "minicom"}},
      {ErrorCode::PermissionDenied, {"sudo adduser $USER dialout", "log out and in again"}},
  };
  for (const auto& c : culprits) {
    const std::string advice = internal::advice(c.code);
    for (const char* name : c.names) EXPECT_NE(advice.find(name), std::string::npos) << advice;
  }
  EXPECT_EQ(internal::systemReason(ENOENT), "No such file or directory (errno 2)");
}

// Every error a user can meet on Linux: advice that is true there and says what to do.
TEST(OsError, EveryErrorsAdviceFitsLinuxAndThePortBehindPortOne) {
  for (const auto& kind : kKinds) {
    for (const ErrorCode code : testing_support::kReachableErrors) {
      SCOPED_TRACE(std::to_string(static_cast<int>(code)) + " on " + kind.kernelName +
                   (kind.pseudoTerminal ? " (pty)" : ""));
      const std::string advice = internal::advice(code, kind);
      for (const char* windows : {"Device Manager", "COM3", "Wine", "COM Port Number"}) {
        EXPECT_EQ(advice.find(windows), std::string::npos) << advice;
      }
      // Shown in a message box, and more than a heading: something to do or to know.
      EXPECT_LE(advice.size(), 260u) << advice;
      EXPECT_GE(advice.size(), 50u) << advice;
      // The receipt's fate is the box's closing sentence, said once.
      EXPECT_EQ(advice.find("incomplete"), std::string::npos) << advice;
    }
  }
  // The console to stop is the one of the device that stands in for port 1.
  const std::string adapter = internal::advice(ErrorCode::InUse, {"ttyUSB0", false});
  EXPECT_NE(adapter.find("serial-getty@ttyUSB0"), std::string::npos) << adapter;
  EXPECT_EQ(adapter.find("ttyS0"), std::string::npos) << adapter;
  // With no handshaking a printer cannot stop the line: 8021 points at this side.
  const std::string port = internal::advice(ErrorCode::WriteTimedOut, {});
  EXPECT_NE(port.find("Unplug the adapter"), std::string::npos) << port;
  EXPECT_EQ(port.find("paper"), std::string::npos) << port;
  const std::string pty = internal::advice(ErrorCode::WriteTimedOut, {"", true});
  EXPECT_NE(pty.find("stopped reading"), std::string::npos) << pty;
}

// The same in Traditional Chinese: Linux's words, the commands as they are typed.
TEST(OsError, InChineseEveryErrorsAdviceFitsLinux) {
  PROJECT1_SKIP_UNLESS_CHINESE();
  for (const auto& kind : kKinds) {
    for (const ErrorCode code : testing_support::kReachableErrors) {
      SCOPED_TRACE(std::to_string(static_cast<int>(code)) + " on " + kind.kernelName);
      const std::string advice = internal::advice(code, kind);
      EXPECT_TRUE(advice.find("序列埠") != std::string::npos ||
                  advice.find("虛擬終端機") != std::string::npos)
          << advice;
      for (const char* windows : {"裝置管理員", "COM3", "Wine", "Device Manager"}) {
        EXPECT_EQ(advice.find(windows), std::string::npos) << advice;
      }
      EXPECT_EQ(advice.find("不完整"), std::string::npos) << advice;
    }
  }
  const std::string adapter = internal::advice(ErrorCode::InUse, {"ttyUSB0", false});
  EXPECT_NE(adapter.find("sudo systemctl stop serial-getty@ttyUSB0"), std::string::npos) << adapter;
  const std::string denied = internal::advice(ErrorCode::PermissionDenied);
  EXPECT_NE(denied.find("sudo adduser $USER dialout"), std::string::npos) << denied;
  // The system's words in the same language where the C library has them, its number as is.
  EXPECT_TRUE(internal::systemReason(ENOENT).ends_with("（errno 2）"))
      << internal::systemReason(ENOENT);
}

}  // namespace
