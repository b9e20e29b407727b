#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace serial {

enum class Parity { None, Odd, Even };
enum class Handshaking { None, XonXoff, RtsCts };

// The settings the window stores for its serial control; applied when the window is created.
struct Settings {
  int port = 1;
  unsigned baud = 9600;
  Parity parity = Parity::None;
  int dataBits = 8;
  int stopBits = 1;
  Handshaking handshaking = Handshaking::None;
  bool dtrEnable = true;
  bool rtsEnable = false;
  std::size_t inBufferSize = 1024;
  std::size_t outBufferSize = 512;
  char parityReplace = '?';  // concerns received bytes only; nothing is ever read

  // How long a write may make no progress before it fails: a printer that is off,
  // out of paper or unplugged must end in an error, never a hang.
  std::chrono::milliseconds writeTimeout{3000};
};

// How much longer than writeTimeout a line may go without visible progress where the output
// queue cannot be seen (a pseudo-terminal, or Wine's view of one).
std::chrono::milliseconds unseenQueueAllowance(const Settings& settings);

// How long a device call may go without progress before the serial control gives up on it:
// longer than any device's own limit (about 10 s by default).
std::chrono::milliseconds stallLimit(const Settings& settings);

// Empty when a serial line can carry the settings' character framing, else what it cannot:
// "9 data bits", "3 stop bits". Each platform adds what its own driver interface cannot hold.
std::string unsupportedFraming(const Settings& settings);

// "COM1": how a person names the port, on every platform.
std::string portName(const Settings& settings);

// Time the line needs for `bytes` at the settings' speed, start and stop bits included.
std::chrono::microseconds lineTime(const Settings& settings, std::size_t bytes);

}  // namespace serial
