#include "tests/support/in_child.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace testing_support {

std::string inChild(const std::function<std::string()>& work) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
  const pid_t child = ::fork();
  if (child < 0) {
    const std::string why = std::string("fork: ") + std::strerror(errno);
    ::close(pipe[0]);
    ::close(pipe[1]);
    return why;
  }
  if (child == 0) {
    ::close(pipe[0]);
    std::string said;
    try {
      said = work();
    } catch (const std::exception& e) {
      said = e.what();
    } catch (...) {
      said = "an exception that is not a std::exception";
    }
    for (std::size_t at = 0; at < said.size();) {
      const ssize_t n = ::write(pipe[1], said.data() + at, said.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    // Not exit(): the parent's atexit handlers and buffers are not the child's to run.
    ::_exit(0);
  }
  ::close(pipe[1]);
  std::string said;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) {
    said.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe[0]);
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return said + " (the child was lost)";
  if (WIFSIGNALED(status)) {
    return said + " (the child was ended by signal " + std::to_string(WTERMSIG(status)) + ")";
  }
  return said;
}

bool becomeNobody() {
  constexpr uid_t kNobody = 65534;
  return ::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0 &&
         ::setresuid(kNobody, kNobody, kNobody) == 0;
}

}  // namespace testing_support
