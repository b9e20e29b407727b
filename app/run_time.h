#pragma once

#include <optional>
#include <string>

#include "serial_control.h"

namespace app {

// What the user is shown when a click raised an error.
struct ErrorReport {
  int number;
  std::string description;
  std::string text() const;  // the message box's body
};

// Exit code of a program ended by an error.
inline constexpr int kErrorExitCode = 1;

// Command1_Click: one print test on the window's serial control. Errors are not handled here;
// they end the click where they happen and come back as the report the run time shows.
std::optional<ErrorReport> Command1_Click(serial::SerialControl& MSComm1);

}  // namespace app
