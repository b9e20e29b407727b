#include "app/error_report.h"

namespace app {

std::string ErrorReport::text() const {
  return "Error " + std::to_string(number) + "\n\n" + description + "\n\n" +
         (nothingSent ? "Nothing was sent to the printer."
                      : "The test receipt may be incomplete.") +
         " The program will now end.";
}

std::string ErrorReport::line() const {
  const std::string body = text();
  std::string out;
  bool firstBreak = true;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\n') {
      out += body[i];
      continue;
    }
    while (i + 1 < body.size() && body[i + 1] == '\n') ++i;
    out += firstBreak ? ": " : " ";  // "Error 8002: ..."
    firstBreak = false;
  }
  return out;
}

ErrorReport reportFor(const serial::SerialError& error) {
  using serial::ErrorCode;
  // A print run opens the port before its first byte: what fails there sent nothing.
  bool opening = false;
  switch (error.code()) {
    case ErrorCode::OpenFailed:
    case ErrorCode::NoSuchPort:
    case ErrorCode::PortAlreadyOpen:
    case ErrorCode::InUse:
    case ErrorCode::PermissionDenied:
    case ErrorCode::NotSerialDevice:
    case ErrorCode::SettingsRejected:
      opening = true;
      break;
    default:
      break;
  }
  return ErrorReport{error.number(), error.description(), opening};
}

}  // namespace app
