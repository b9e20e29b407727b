#include "run_time.h"

#include <exception>

#include "print_run.h"
#include "serial_error.h"

namespace app {

std::string ErrorReport::text() const {
  return "Error " + std::to_string(number) + "\n\n" + description +
         "\n\nThe test receipt was not printed completely. The program will now end.";
}

std::optional<ErrorReport> Command1_Click(serial::SerialControl& MSComm1) {
  try {
    receipt::runPrintTest(MSComm1);
    return std::nullopt;
  } catch (const serial::SerialError& e) {
    return ErrorReport{e.number(), e.description()};
  } catch (const std::exception& e) {
    // Not the port's doing (out of memory, a missing converter): still reported, never lost.
    return ErrorReport{51, std::string("Internal error: ") + e.what()};
  }
}

}  // namespace app
