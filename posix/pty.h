#pragma once

#include <sys/types.h>

namespace posix {

// Whether device number `rdev` is a pseudo-terminal's slave: Unix 98 (/dev/pts/N) or BSD
// (/dev/ttyp0).
bool isPtySlave(dev_t rdev);

}  // namespace posix
