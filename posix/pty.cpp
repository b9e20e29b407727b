#include "posix/pty.h"

#include <sys/sysmacros.h>

namespace posix {

bool isPtySlave(dev_t rdev) {
  // Linux's numbers (Documentation/admin-guide/devices.txt): Unix 98 slaves take majors 136 to
  // 143; BSD slaves, from kernels built with legacy ptys, major 3.
  constexpr unsigned kUnix98First = 136;
  constexpr unsigned kUnix98Last = 143;
  constexpr unsigned kBsd = 3;
  const unsigned number = ::major(rdev);
  return (number >= kUnix98First && number <= kUnix98Last) || number == kBsd;
}

}  // namespace posix
