#pragma once

#include "serial/serial_control.h"

namespace receipt {

// One print test: open the port, write the sixteen texts in order, close the port.
// An error stops the run where it happens; the port is then left as it is.
void runPrintTest(serial::SerialControl& MSComm1);

}  // namespace receipt
