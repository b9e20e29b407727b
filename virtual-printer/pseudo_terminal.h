#pragma once

#include <string>

#include "posix/parked_fd.h"
#include "posix/unique_fd.h"

namespace vprinter {

// A pseudo-terminal whose slave end looks to the host like a serial port set to 9600 8N1, raw.
class PseudoTerminal {
 public:
  PseudoTerminal();

  int master() const { return master_.get(); }  // non-blocking
  const std::string& slavePath() const { return slavePath_; }

 private:
  posix::UniqueFd master_;
  std::string slavePath_;
  // Held open so the master never reads EIO while the host has the port closed, and so the
  // line settings outlive the host's opens and closes; parked, so that the host, which refuses
  // a port another program has open, does not find the printer holding its own line.
  posix::ParkedFd slave_;
};

}  // namespace vprinter
