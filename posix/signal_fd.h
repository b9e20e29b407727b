#pragma once

#include <initializer_list>

#include "posix/unique_fd.h"

namespace posix {

// Signals read from a descriptor that a poll loop can wait on, blocked from the calling thread
// on (make it before any thread that must not take them) and still blocked after it goes.
class SignalFd {
 public:
  // Throws std::system_error when the signals cannot be blocked or read; the mask is then as it
  // was.
  explicit SignalFd(std::initializer_list<int> signals);

  int fd() const { return fd_.get(); }

  // The number of the next signal that came, or 0 when none is waiting; throws
  // std::system_error when the descriptor cannot be read.
  int take();

 private:
  UniqueFd fd_;
};

}  // namespace posix
