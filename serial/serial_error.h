#pragma once

#include <stdexcept>
#include <string>

#include "texts/texts.h"

namespace serial {

// Error numbers the serial control raises; a technician quotes them, so they never change.
enum class ErrorCode : int {
  OpenFailed = 8001,
  NoSuchPort = 8002,
  PortAlreadyOpen = 8005,
  InUse = 8010,
  PermissionDenied = 8011,
  NotSerialDevice = 8012,
  SettingsRejected = 8015,
  PortNotOpen = 8018,
  WriteFailed = 8020,
  WriteTimedOut = 8021,
  QueueFull = 8022,
  NotBig5 = 8023,
};

class SerialError : public std::runtime_error {
 public:
  SerialError(ErrorCode code, const std::string& description)
      : std::runtime_error(description), code_(code) {}

  ErrorCode code() const { return code_; }
  int number() const { return static_cast<int>(code_); }
  std::string description() const { return what(); }

 private:
  ErrorCode code_;
};

// What failed: a system call by its name, or an action in the user's words.
class Operation {
 public:
  Operation(const char* call) : call_(call) {}        // NOLINT(google-explicit-constructor)
  Operation(texts::Text action) : action_(action) {}  // NOLINT(google-explicit-constructor)
  std::string text() const { return call_ ? std::string(call_) : texts::text(action_); }

 private:
  const char* call_ = nullptr;
  texts::Text action_{};
};

// The one way every part of the serial control words an error, in one paragraph, in the
// user's language: "COM1 (/dev/ttyS0): open: No such file or directory (errno 2). <advice>"
// The advice is adviceFor(code) unless one is given; an empty reason is left out.
SerialError serialError(ErrorCode code, const std::string& port, const std::string& device,
                        const std::string& operation, const std::string& reason,
                        const std::string& advice = {});

// The advice a person can act on, by error.
std::string adviceFor(ErrorCode code);

}  // namespace serial
