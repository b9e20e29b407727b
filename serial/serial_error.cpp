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
      return "The port could not be opened.";
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
      return "Not a serial device: the port name does not lead to a serial port.";
    case ErrorCode::SettingsRejected:
      return "The port refused the line settings 9600 baud, 8 data bits, no parity, 1 stop bit.";
    case ErrorCode::PortNotOpen:
      return "The port is not open.";
    case ErrorCode::WriteFailed:
      return "Write failed: check the cable and that the printer or USB adapter is still "
             "connected; the receipt may be incomplete.";
    case ErrorCode::WriteTimedOut:
      return "Write timed out: the printer stopped taking data; check that it is switched on, "
             "online, has paper and that the cable is connected; the receipt may be incomplete.";
    case ErrorCode::QueueFull:
      return "The transmit queue is full: the text was not sent.";
    case ErrorCode::NotBig5:
      return "The text holds a character that Big5 (code page 950) cannot carry: nothing of it "
             "was sent.";
  }
  return "";
}

}  // namespace serial
