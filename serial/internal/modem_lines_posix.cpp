#include "serial/internal/modem_lines_posix.h"

#include <sys/ioctl.h>

namespace serial::internal {

int setModemLines(const Settings& settings, bool pseudoTerminal, const ModemLineIoctl& ioctl) {
  const struct {
    bool raise;
    int bit;
  } lines[] = {{settings.dtrEnable, TIOCM_DTR}, {settings.rtsEnable, TIOCM_RTS}};
  for (const auto& line : lines) {
    const int err = ioctl(line.raise ? TIOCMBIS : TIOCMBIC, line.bit);
    // A real port must take them: a printer may wait for DTR before it reads a byte.
    if (err != 0 && !pseudoTerminal) return err;
  }
  return 0;
}

}  // namespace serial::internal
