#pragma once

#include <chrono>
#include <string>

#include "posix/unique_fd.h"

namespace testing_support {

// A pseudo-terminal standing in for a serial line. The test keeps the slave open too, so the
// master never sees EIO while the program under test opens and closes its side.
class PtyPair {
 public:
  PtyPair();  // raw on both sides: no LF to CR LF
  const std::string& slavePath() const { return path_; }
  int master() const { return master_.get(); }
  int slave() const { return slave_.get(); }

  // Reads from the master until `count` bytes came or `timeout` passed with nothing new.
  std::string read(std::size_t count, std::chrono::milliseconds timeout);
  // Everything that arrives until the line has been quiet for `quiet`.
  std::string readUntilQuiet(std::chrono::milliseconds quiet);

  void closeMaster() { master_.reset(); }

 private:
  posix::UniqueFd master_;
  posix::UniqueFd slave_;
  std::string path_;
};

// Number of file descriptors this process has open.
int openFdCount();

}  // namespace testing_support
