#pragma once

#include <termios.h>

#include <string>

#include "serial/serial_error.h"
#include "serial/settings.h"

namespace serial::internal {

// Empty when the settings can be put in a termios, else what is wrong with them.
std::string unsupportedSettings(const Settings& settings);

// The line state for tcsetattr, from what the port had: raw, with every field the settings
// name set. Only for settings unsupportedSettings() passed.
termios makeTermios(const Settings& settings, const termios& current);

// Empty when the port took the line settings that decide whether the printer reads the
// bytes (speed, framing, flow control, no output processing), else which it kept differently.
std::string lineSettingsMismatch(const termios& wanted, const termios& got);

// The error for an open() failure.
ErrorCode openErrorCode(int err);

// Which port the advice is about: the kernel's name of the device behind the path (ttyS0, or
// ttyUSB0 where project1-port put an adapter there), and whether it is a pseudo-terminal.
struct PortKind {
  std::string kernelName = "ttyS0";
  bool pseudoTerminal = false;
};

// The advice for an error on Linux: the usual holders of a port, the dialout group, and
// project1-port for an adapter that is not port 1.
std::string advice(ErrorCode code, const PortKind& port = {});

// The advice for an open() failure.
std::string openAdvice(int err, const PortKind& port = {});

// The system's text for an errno, with its number: "No such file or directory (errno 2)".
std::string systemReason(int err);

}  // namespace serial::internal
