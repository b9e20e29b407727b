#pragma once

#include <chrono>
#include <string>

#include "posix/parked_fd.h"
#include "posix/unique_fd.h"

namespace testing_support {

// A pseudo-terminal standing in for a serial line, its slave held open by the test too so that
// the master never reads EIO while the program under test opens and closes its side.
class PtyPair {
 public:
  PtyPair();  // raw on both sides: no LF to CR LF
  const std::string& slavePath() const { return path_; }
  int master() const { return master_.get(); }
  int slave() const { return slave_.get(); }  // -1 once parked

  // Keeps the slave open with no descriptor of it in this process (posix::ParkedFd), which
  // another process under test would take for another program holding the port, as a serial
  // line's far end holds none. The line's settings are then read and set through the master,
  // which Linux applies to the slave.
  void parkSlave() { parked_ = posix::ParkedFd(std::move(slave_)); }

  // Reads from the master until `count` bytes came or `timeout` passed with nothing new.
  std::string read(std::size_t count, std::chrono::milliseconds timeout);
  // Everything that arrives until the line has been quiet for `quiet`.
  std::string readUntilQuiet(std::chrono::milliseconds quiet);

  void closeMaster() { master_.reset(); }

 private:
  posix::UniqueFd master_;
  posix::UniqueFd slave_;
  posix::ParkedFd parked_;
  std::string path_;
};

// Number of file descriptors this process has open.
int openFdCount();

}  // namespace testing_support
