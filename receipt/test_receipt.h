#pragma once

#include <array>
#include <string>

namespace receipt {

// The sixteen writes of the test receipt, in order; each is handed to the port whole.
using Receipt = std::array<std::u16string, 16>;
const Receipt& TestReceipt();

}  // namespace receipt
