#pragma once

#include <string>

#include "serial/serial_error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace serial::internal {

#ifdef _WIN32
// What GetLastError() said.
using SystemError = DWORD;

// Where the program runs: advice that only makes sense under Wine is shown only there.
enum class Host { Windows, Wine };
Host hostHere();

// Which port the advice is about: under Wine, COM1 may lead to a pseudo-terminal.
struct PortKind {
  Host host = hostHere();
  bool pseudoTerminal = false;
};
#else
// What errno said.
using SystemError = int;

// Which port the advice is about: the kernel's name of the device behind the path (ttyS0, or
// ttyUSB0 where project1-port put an adapter there), and whether it is a pseudo-terminal.
struct PortKind {
  std::string kernelName = "ttyS0";
  bool pseudoTerminal = false;
};
#endif

// The error for a failure to open the port.
ErrorCode openErrorCode(SystemError error);

// The advice for an error, true on this system and for that port.
std::string advice(ErrorCode code, const PortKind& port = {});

// The advice for a failure to open the port.
std::string openAdvice(SystemError error, const PortKind& port = {});

// The system's text for an error, with its number: "No such file or directory (errno 2)",
// "Access is denied. (error 5)".
std::string systemReason(SystemError error);

}  // namespace serial::internal
