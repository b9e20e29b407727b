#include "tests/e2e/target.h"

#include <sys/stat.h>

#include <cerrno>
#include <stdexcept>

#include "tools/private_dev.h"

namespace e2e {

std::function<void()> TargetBase::inPrivateDev(std::optional<std::string> ttyS0, dev_t rdev) {
  return [ttyS0 = std::move(ttyS0), rdev] {
    tools::enterPrivateDev(ttyS0);
    struct stat st {};
    const bool present = ::stat("/dev/ttyS0", &st) == 0;
    if (ttyS0 && (!present || !S_ISCHR(st.st_mode) || st.st_rdev != rdev)) {
      throw std::runtime_error("/dev/ttyS0 is not the test's pty");
    }
    if (!ttyS0 && (present || errno != ENOENT)) {
      throw std::runtime_error("/dev/ttyS0 is there, though the port should be missing");
    }
  };
}

}  // namespace e2e
