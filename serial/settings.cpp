#include "serial/settings.h"

namespace serial {

std::string portName(const Settings& settings) { return "COM" + std::to_string(settings.port); }

std::string unsupportedFraming(const Settings& s) {
  if (s.dataBits < 5 || s.dataBits > 8) return std::to_string(s.dataBits) + " data bits";
  if (s.stopBits != 1 && s.stopBits != 2) return std::to_string(s.stopBits) + " stop bits";
  return {};
}

std::chrono::microseconds lineTime(const Settings& settings, std::size_t bytes) {
  const unsigned bitsPerByte =
      1 + settings.dataBits + (settings.parity == Parity::None ? 0 : 1) + settings.stopBits;
  return std::chrono::microseconds(bytes * bitsPerByte * 1'000'000ULL / settings.baud);
}

std::chrono::milliseconds unseenQueueAllowance(const Settings& settings) {
  // Such a device frees room only once its reader has emptied most of its 4 KB buffer, in
  // bursts seconds apart: the time the line needs for all of it.
  return std::chrono::ceil<std::chrono::milliseconds>(lineTime(settings, 4096));
}

std::chrono::milliseconds stallLimit(const Settings& settings) {
  // A writeTimeout past any device's own limit, so that it fires only for a call that never
  // returns.
  return 2 * settings.writeTimeout + unseenQueueAllowance(settings);
}

}  // namespace serial
