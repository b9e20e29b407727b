#include "settings.h"

namespace serial {

std::string portName(const Settings& settings) { return "COM" + std::to_string(settings.port); }

std::chrono::microseconds lineTime(const Settings& settings, std::size_t bytes) {
  const unsigned bitsPerByte =
      1 + settings.dataBits + (settings.parity == Parity::None ? 0 : 1) + settings.stopBits;
  return std::chrono::microseconds(bytes * bitsPerByte * 1'000'000ULL / settings.baud);
}

std::chrono::milliseconds unseenQueueAllowance(const Settings& settings) {
  return std::chrono::ceil<std::chrono::milliseconds>(lineTime(settings, 4096));
}

std::chrono::milliseconds stallLimit(const Settings& settings) {
  return settings.writeTimeout + unseenQueueAllowance(settings) + std::chrono::seconds(2);
}

}  // namespace serial
