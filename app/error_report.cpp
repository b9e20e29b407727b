#include "app/error_report.h"

namespace app {

std::string ErrorReport::text() const {
  return "Error " + std::to_string(number) + "\n\n" + description +
         "\n\nThe test receipt was not printed completely. The program will now end.";
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
  return ErrorReport{error.number(), error.description()};
}

}  // namespace app
