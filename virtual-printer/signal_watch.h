#pragma once

#include <signal.h>

#include "posix/unique_fd.h"

namespace vprinter {

// Turns SIGINT, SIGTERM and SIGHUP (the terminal it ran in went away) into a descriptor the poll
// loop can wait on. Blocks them while it lives, so create it before any thread starts; restores
// the old mask when done.
class SignalWatch {
 public:
  SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  ~SignalWatch();

  int fd() const { return fd_.get(); }
  // The signal that made fd() readable; 0 when none was queued after all.
  int take();

 private:
  sigset_t previous_;
  posix::UniqueFd fd_;
};

}  // namespace vprinter
