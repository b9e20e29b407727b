#pragma once

#include <string_view>

namespace serial {

// The three operations a print run needs from a serial control.
class SerialControl {
 public:
  virtual ~SerialControl() = default;
  virtual void setPortOpen(bool open) = 0;
  virtual bool portOpen() const = 0;
  virtual void setOutput(std::u16string_view text) = 0;
};

}  // namespace serial
