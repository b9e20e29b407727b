#include "virtual-printer/tests/printer_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "virtual-printer/os_error.h"

namespace vprinter::testing {

using Clock = std::chrono::steady_clock;

PrinterProcess::PrinterProcess(const std::vector<std::string>& args, bool captureStderr) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw osError("pipe2");
  out_ = posix::UniqueFd(fds[0]);
  posix::UniqueFd writeEnd(fds[1]);
  posix::UniqueFd errWriteEnd;
  if (captureStderr) {
    if (pipe2(fds, O_CLOEXEC) != 0) throw osError("pipe2");
    err_ = posix::UniqueFd(fds[0]);
    errWriteEnd = posix::UniqueFd(fds[1]);
  }

  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
  if (errWriteEnd) posix_spawn_file_actions_adddup2(&actions, errWriteEnd.get(), STDERR_FILENO);
  const int err = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) throw osError("spawn " + args[0], err);
}

PrinterProcess::~PrinterProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool PrinterProcess::fill(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  pollfd p{out_.get(), POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) {
    throw std::runtime_error("virtual-printer said nothing in time; so far: " + buffered_);
  }
  char chunk[4096];
  const ssize_t n = ::read(out_.get(), chunk, sizeof chunk);
  if (n < 0) throw osError("read virtual-printer output");
  buffered_.append(chunk, static_cast<std::size_t>(n));
  return n > 0;
}

std::string PrinterProcess::readLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (const auto nl = buffered_.find('\n'); nl != std::string::npos) {
      std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      return line;
    }
    if (!fill(deadline)) throw std::runtime_error("virtual-printer closed its output early");
  }
}

std::string PrinterProcess::readRest(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (fill(deadline)) {
  }
  return std::exchange(buffered_, {});
}

std::string PrinterProcess::stderrText() {
  if (!err_) throw std::logic_error("stderr was not captured");
  std::string text;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(err_.get(), chunk, sizeof chunk)) > 0) {
    text.append(chunk, static_cast<std::size_t>(n));
  }
  if (n < 0) throw osError("read virtual-printer stderr");
  return text;
}

void PrinterProcess::closeOutput() { out_.reset(); }

bool PrinterProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  if (done < 0) throw osError("waitpid");
  pid_ = -1;
  status_ = status;
  return false;
}

void PrinterProcess::signal(int sig) {
  if (::kill(pid_, sig) != 0) throw osError("kill");
}

int PrinterProcess::wait(std::chrono::milliseconds timeout) {
  if (status_) return *status_;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return status;
    }
    if (done < 0) throw osError("waitpid");
    if (Clock::now() > deadline) throw std::runtime_error("virtual-printer did not exit in time");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace vprinter::testing
