#pragma once

#include "unique_fd_posix.h"

namespace vprinter {

using serial::UniqueFd;

}  // namespace vprinter
