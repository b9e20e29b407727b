#include "tests/support/pty_pair.h"

#include <dirent.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testing_support {

PtyPair::PtyPair() {
  int master = -1;
  int slave = -1;
  char name[256] = {};
  termios raw{};
  ::cfmakeraw(&raw);
  if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
    throw std::runtime_error(std::string("openpty: ") + std::strerror(errno));
  }
  master_ = posix::UniqueFd(master);
  slave_ = posix::UniqueFd(slave);
  path_ = name;
}

std::string PtyPair::read(std::size_t count, std::chrono::milliseconds timeout) {
  std::string out;
  while (out.size() < count) {
    pollfd p{master_.get(), POLLIN, 0};
    const int r = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    char buf[4096];
    const ssize_t n = ::read(master_.get(), buf, std::min(sizeof buf, count - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<std::size_t>(n));
  }
  return out;
}

std::string PtyPair::readUntilQuiet(std::chrono::milliseconds quiet) {
  return read(static_cast<std::size_t>(-1) / 2, quiet);
}

int openFdCount() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) return -1;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;  // the directory's own descriptor
}

}  // namespace testing_support
