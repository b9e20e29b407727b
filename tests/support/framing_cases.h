#pragma once

#include <chrono>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "serial/settings.h"

namespace testing_support {

// Settings and the line each system's line state must then describe, written as a technician
// reads a line: speed, data bits, parity (N, O, E), stop bits, and the flow control if any.
// The termios and DCB tests each read their structure back into these words.
struct FramingCase {
  serial::Settings settings;
  const char* line;
};

inline const FramingCase kFramingCases[] = {
    {{}, "9600 8N1"},
    {{.baud = 19200, .parity = serial::Parity::Even, .dataBits = 7, .stopBits = 2}, "19200 7E2"},
    {{.baud = 115200, .parity = serial::Parity::Odd, .dataBits = 5}, "115200 5O1"},
    {{.dataBits = 6}, "9600 6N1"},
    {{.handshaking = serial::Handshaking::XonXoff}, "9600 8N1 XON/XOFF"},
    {{.handshaking = serial::Handshaking::RtsCts}, "9600 8N1 RTS/CTS"},
};

// The flow control part of a line's words from its structure's flags (set, name): "RTS/CTS" or
// "XON/XOFF" when the set flags' names, joined by "+", are `rtsCts` or `xonXoff`; otherwise
// that join itself (a mix no settings make), and "" when none is set.
inline std::string flowWords(std::initializer_list<std::pair<bool, const char*>> flags,
                             std::string_view rtsCts, std::string_view xonXoff) {
  std::string flow;
  for (const auto& [set, name] : flags) {
    if (!set) continue;
    if (!flow.empty()) flow += "+";
    flow += name;
  }
  if (flow == rtsCts) return "RTS/CTS";
  if (flow == xonXoff) return "XON/XOFF";
  return flow;
}

// Settings as both systems judge them: what no serial line can carry is named the same way on
// each, and what every line carries is accepted (""). Each system adds what only its own
// driver interface cannot hold.
struct UnsupportedCase {
  serial::Settings settings;
  const char* named;
};

inline const UnsupportedCase kUnsupportedCases[] = {
    {{}, ""},
    {{.baud = 1200}, ""},
    {{.baud = 115200}, ""},
    {{.dataBits = 5}, ""},
    {{.stopBits = 2}, ""},
    {{.writeTimeout = std::chrono::milliseconds(0)}, ""},
    {{.baud = 0}, "baud rate 0"},
    {{.dataBits = 4}, "4 data bits"},
    {{.dataBits = 9}, "9 data bits"},
    {{.stopBits = 0}, "0 stop bits"},
    {{.stopBits = 3}, "3 stop bits"},
    {{.writeTimeout = std::chrono::milliseconds(-1)}, "write timeout"},
};

}  // namespace testing_support
