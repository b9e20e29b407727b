#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "posix/unique_fd.h"

namespace vprinter::testing {

// The virtual-printer binary running as a child, its stdout on a pipe (and its stderr too when
// asked; else it shares ours).
class PrinterProcess {
 public:
  explicit PrinterProcess(const std::vector<std::string>& args, bool captureStderr = false);
  PrinterProcess(const PrinterProcess&) = delete;
  PrinterProcess& operator=(const PrinterProcess&) = delete;
  ~PrinterProcess();  // kills it if still running

  // The next stdout line without its newline; throws when none comes in time.
  std::string readLine(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Everything up to end of file.
  std::string readRest(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Stderr up to end of file, once it has exited; needs captureStderr.
  std::string stderrText();
  // Closes our end of its stdout, as a reader that goes away does.
  void closeOutput();
  void signal(int sig);
  // Still running: not exited, nor killed by a signal.
  bool running();
  pid_t pid() const { return pid_; }
  // The wait status; throws when it does not exit in time.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(5));

 private:
  bool fill(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  posix::UniqueFd out_;
  posix::UniqueFd err_;
  std::optional<int> status_;  // once running() has seen it end
  std::string buffered_;
};

}  // namespace vprinter::testing
