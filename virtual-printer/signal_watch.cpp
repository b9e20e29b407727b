#include "virtual-printer/signal_watch.h"

#include <sys/signalfd.h>
#include <unistd.h>

#include "virtual-printer/os_error.h"

namespace vprinter {

SignalWatch::SignalWatch() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  if (const int err = pthread_sigmask(SIG_BLOCK, &set, &previous_); err != 0) {
    throw osError("block SIGINT, SIGTERM and SIGHUP", err);
  }
  fd_ = posix::UniqueFd(signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!fd_) {
    const int err = errno;
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    throw osError("signalfd", err);
  }
}

SignalWatch::~SignalWatch() {
  // Swallow signals still queued: unblocking them would kill a process that is already ending.
  signalfd_siginfo info;
  while (::read(fd_.get(), &info, sizeof info) > 0) {
  }
  fd_.reset();
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int SignalWatch::take() {
  signalfd_siginfo info{};
  const ssize_t n = ::read(fd_.get(), &info, sizeof info);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (n != static_cast<ssize_t>(sizeof info)) throw osError("read signalfd");
  return static_cast<int>(info.ssi_signo);
}

}  // namespace vprinter
