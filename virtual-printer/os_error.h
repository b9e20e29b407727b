#pragma once

#include <cerrno>
#include <string>
#include <system_error>

namespace vprinter {

// The error for a failed system call: "<operation>: <OS reason>".
inline std::system_error osError(const std::string& operation, int err = errno) {
  return std::system_error(err, std::generic_category(), operation);
}

}  // namespace vprinter
