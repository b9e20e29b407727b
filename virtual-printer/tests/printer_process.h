#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "posix/unique_fd.h"

namespace vprinter::testing {

// The virtual-printer binary running as a child, its stdout on a pipe.
class PrinterProcess {
 public:
  explicit PrinterProcess(const std::vector<std::string>& args);
  PrinterProcess(const PrinterProcess&) = delete;
  PrinterProcess& operator=(const PrinterProcess&) = delete;
  ~PrinterProcess();  // kills it if still running

  // The next stdout line without its newline; throws when none comes in time.
  std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Everything up to end of file.
  std::string readRest(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  void signal(int sig);
  pid_t pid() const { return pid_; }
  // The wait status; throws when it does not exit in time.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  bool fill(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  posix::UniqueFd out_;
  std::string buffered_;
};

}  // namespace vprinter::testing
