#include "posix/signal_fd.h"

#include <pthread.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <csignal>
#include <system_error>

namespace posix {

SignalFd::SignalFd(std::initializer_list<int> signals) {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : signals) sigaddset(&set, s);
  sigset_t previous;
  if (const int err = pthread_sigmask(SIG_BLOCK, &set, &previous); err != 0) {
    throw std::system_error(err, std::generic_category(), "pthread_sigmask");
  }
  fd_ = UniqueFd(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!fd_) {
    // Unread, they would wait for ever: better that they keep what they did before.
    const int err = errno;
    (void)pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    throw std::system_error(err, std::generic_category(), "signalfd");
  }
}

// No destructor of its own: the signals stay blocked, since one that came once they were
// unblocked would take its default action and kill a process that is ending half way.

int SignalFd::take() {
  signalfd_siginfo info{};
  for (;;) {
    const ssize_t n = ::read(fd_.get(), &info, sizeof info);
    if (n == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    throw std::system_error(n < 0 ? errno : EIO, std::generic_category(), "read signalfd");
  }
}

}  // namespace posix
