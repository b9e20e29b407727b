#pragma once

#include <filesystem>
#include <string>

namespace serial::internal {

// The kernel's name of the character device at `path` ("ttyUSB0"), found by its number under
// `sysfs`; empty where it has none there (a pseudo-terminal) or the path cannot be examined.
std::string kernelName(const std::string& path, const std::filesystem::path& sysfs = "/sys");

// How the texts name the device at `path` whose kernel name is `name`: the path itself, or
// "/dev/ttyUSB0 as /dev/ttyS0" where another device stands there.
std::string shownDevice(const std::string& path, const std::string& name);

}  // namespace serial::internal
