#include "serial/serial_error.h"

namespace serial {

SerialError serialError(ErrorCode code, const std::string& port, const std::string& device,
                        const std::string& operation, const std::string& reason,
                        const std::string& advice) {
  std::string text = port + " (" + device + "): " + operation;
  if (!reason.empty()) text += ": " + reason;
  text += ".";
  const std::string said = advice.empty() ? adviceFor(code) : advice;
  if (!said.empty()) text += " " + said;
  return SerialError(code, text);
}

const char* adviceFor(ErrorCode code) {
  switch (code) {
    case ErrorCode::OpenFailed:
      return "Check that the port's driver works, unplug a USB adapter and plug it in again, and "
             "try again.";
    case ErrorCode::NoSuchPort:
      return "No such port: check that this computer has the serial port and that its driver "
             "or USB adapter is installed.";
    case ErrorCode::PortAlreadyOpen:
      return "The port is already open in this program.";
    case ErrorCode::InUse:
      return "The port is in use by another program: close the program that holds it "
             "(a POS application, a terminal, a modem service) and try again.";
    case ErrorCode::PermissionDenied:
      return "Permission denied: run the program as a user allowed to use the port.";
    case ErrorCode::NotSerialDevice:
      return "The port name does not lead to a serial port: give the printer's port that name.";
    case ErrorCode::SettingsRejected:
      return "The port's driver does not take 9600 baud, 8 data bits, no parity, 1 stop bit: "
             "connect the printer to another port or USB adapter.";
    case ErrorCode::PortNotOpen:
      return "The port is not open.";
    case ErrorCode::WriteFailed:
      return "The port went away while printing: check that the USB adapter is still plugged "
             "in and the cable connected.";
    case ErrorCode::WriteTimedOut:
      // With no handshaking a printer cannot hold the line back: what stopped is on this side.
      return "The port stopped sending: with no handshaking a printer cannot hold it back, so "
             "the port, the USB adapter or its driver stopped. Unplug the adapter and plug it in "
             "again, or try another.";
    case ErrorCode::QueueFull:
      return "The transmit queue is full: the text was not sent.";
    case ErrorCode::NotBig5:
      return "The text holds a character that Big5 (code page 950) cannot carry: nothing of it "
             "was sent.";
  }
  return "";
}

}  // namespace serial
