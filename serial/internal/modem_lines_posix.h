#pragma once

#include <functional>

#include "serial/settings.h"

namespace serial::internal {

// One modem-line ioctl (TIOCMBIS or TIOCMBIC with a TIOCM_ bit); returns 0 or the errno.
using ModemLineIoctl = std::function<int(unsigned long request, int bits)>;

// Raises or drops DTR and RTS as the settings say. Returns 0, or the errno of a refusal that
// matters: a pseudo-terminal has no modem lines and refuses them, but a real port must take
// them, for a printer may wait for DTR before it reads a byte.
int setModemLines(const Settings& settings, bool pseudoTerminal, const ModemLineIoctl& ioctl);

}  // namespace serial::internal
