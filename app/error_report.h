#pragma once

#include <string>
#include <string_view>

#include "serial/serial_error.h"

namespace app {

// What the user is shown when an error ends the program.
struct ErrorReport {
  int number;
  std::string description;
  bool nothingSent = false;  // failed before the first byte: no part of a receipt to look for
  std::string text() const;  // the message box's body
  std::string line() const;  // the same on one line, for stderr
};

// The one way a serial control's error becomes what the user is shown.
ErrorReport reportFor(const serial::SerialError& error);

// The number shown for an error that is not the port's doing (out of memory, a missing converter).
inline constexpr int kInternalErrorNumber = 51;

// Exit code of a program ended by an error.
inline constexpr int kErrorExitCode = 1;
// Exit code of a program that could not make its window, or lost the display it was shown on.
inline constexpr int kNoWindowExitCode = 2;

// What the user is told when the window cannot be made, for `why`; the program then ends with
// kNoWindowExitCode.
std::string noWindowText(std::string_view why);

}  // namespace app
