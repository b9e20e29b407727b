#include "posix/signal_fd.h"

#include <poll.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <set>

namespace {

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

// Signals are raised on this thread, which alone has them blocked: another thread of the test
// program would take one sent to the process and die of it.
TEST(SignalFd, ReadsEachSignalThatCameAndLeavesThemBlockedWhenItGoes) {
  {
    posix::SignalFd signals({SIGUSR1, SIGUSR2});
    EXPECT_FALSE(readable(signals.fd()));
    EXPECT_EQ(signals.take(), 0);
    ASSERT_EQ(::raise(SIGUSR2), 0);
    ASSERT_EQ(::raise(SIGUSR1), 0);
    EXPECT_TRUE(readable(signals.fd()));
    const std::set<int> came{signals.take(), signals.take()};
    EXPECT_EQ(came, (std::set<int>{SIGUSR1, SIGUSR2}));
    EXPECT_EQ(signals.take(), 0);
    EXPECT_FALSE(readable(signals.fd()));
  }
  // Unblocked, this one would end the test program.
  ASSERT_EQ(::raise(SIGUSR1), 0);
  sigset_t both;
  sigemptyset(&both);
  sigaddset(&both, SIGUSR1);
  sigaddset(&both, SIGUSR2);
  const timespec now{};
  EXPECT_EQ(::sigtimedwait(&both, nullptr, &now), SIGUSR1);
  ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &both, nullptr), 0);
}

}  // namespace
