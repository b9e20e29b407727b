#pragma once

#include <chrono>
#include <cstdint>
#include <span>

namespace vprinter {

// Bytes a printer may send unasked (status replies, line noise). Never XON or XOFF: those
// would stall a host that has software flow control on, which is a different test.
class Chatter {
 public:
  static constexpr std::chrono::milliseconds kInterval{250};

  std::span<const std::uint8_t> next();

 private:
  std::size_t burst_ = 0;
};

}  // namespace vprinter
