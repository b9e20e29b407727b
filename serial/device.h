#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "settings.h"

namespace serial {

// One open serial device, held exclusively with the line settings applied.
// Destroying it releases the device; call drain() first to keep queued output.
class Device {
 public:
  virtual ~Device() = default;

  // Writes every byte, in order, or throws SerialError (WriteFailed, WriteTimedOut).
  virtual void write(std::string_view bytes) = 0;

  // Returns once the written bytes have left the device, or throws after a bounded wait.
  virtual void drain() = 0;
};

using DeviceOpener = std::function<std::unique_ptr<Device>(const Settings&)>;

// The platform's device for the settings' port; throws SerialError.
std::unique_ptr<Device> openDevice(const Settings& settings);

// The platform's name for the port's device: "/dev/ttyS0", "\\.\COM1".
std::string devicePath(int port);

}  // namespace serial
