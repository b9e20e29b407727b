#include "receipt/print_run.h"

#include "receipt/test_receipt.h"

namespace receipt {

void runPrintTest(serial::SerialControl& MSComm1) {
  MSComm1.setPortOpen(true);
  for (const std::u16string& text : TestReceipt()) MSComm1.setOutput(text);
  MSComm1.setPortOpen(false);
}

}  // namespace receipt
