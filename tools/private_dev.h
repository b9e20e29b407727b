#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace tools {

// Moves the calling process into a mount namespace of its own whose /dev is a fresh tmpfs
// holding only the harmless devices, the pseudo-terminals and, when `ttyS0` is given, that
// pty bound on /dev/ttyS0. The machine's real serial devices are then out of reach.
// Call it in a child that then runs the code under test. Throws std::runtime_error.
void enterPrivateDev(const std::optional<std::string>& ttyS0);

// The same with `device` on /dev/ttyS0, which must still be the character device `rdev`
// that the caller examined: any serial port, for the port mapper.
void enterPrivateDevWithPort(const std::string& device, dev_t rdev);

// True when this process may make such a namespace (root, or unprivileged user namespaces).
bool canMakePrivateDev();

}  // namespace tools
