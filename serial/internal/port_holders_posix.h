#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace serial::internal {

// A process with a descriptor open on the port.
struct PortHolder {
  pid_t pid = 0;
  std::string name;  // its command name, empty where it could not be read
};

// The processes other than this one that have the character device `rdev` open, by process
// id, as the proc file system at `proc` shows them. Linux shows a user only the descriptors of
// their own processes (root sees all): another user's holder, such as root's login console,
// is not found.
std::vector<PortHolder> portHolders(dev_t rdev, const std::filesystem::path& proc = "/proc");

// For the error's reason: "agetty (process 812)", "agetty (process 812) and minicom (process
// 930)", or beyond two "4 processes: agetty (process 812), minicom (process 930) and 2 more".
std::string describeHolders(const std::vector<PortHolder>& holders);

}  // namespace serial::internal
