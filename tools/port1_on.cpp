// port1-on PTY PROGRAM [ARGS...]: runs PROGRAM with PTY standing in for serial port 1
// (/dev/ttyS0), in a private /dev where the machine's real serial devices are out of reach.
// PTY "-" leaves port 1 missing.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "tools/private_dev.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    (void)std::fprintf(stderr, "usage: port1-on PTY|- PROGRAM [ARGS...]\n");
    return 2;
  }
  try {
    const std::string pty = argv[1];
    tools::enterPrivateDev(pty == "-" ? std::nullopt : std::optional(pty));
  } catch (const std::exception& e) {
    (void)std::fprintf(stderr, "port1-on: %s\n", e.what());
    return 1;
  }
  // Back to the caller's user where a user namespace made us root only inside it.
  ::execvp(argv[2], argv + 2);
  (void)std::fprintf(stderr, "port1-on: cannot run %s\n", argv[2]);
  return 127;
}
