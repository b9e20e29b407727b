#pragma once

#include <functional>

#include "serial/settings.h"

namespace serial::internal {

// One modem-line ioctl (TIOCMBIS or TIOCMBIC with a TIOCM_ bit); returns 0 or the errno.
using ModemLineIoctl = std::function<int(unsigned long request, int bits)>;

// Raises or drops DTR and RTS as the settings say. Returns 0, or the errno of a real port's
// refusal; a pseudo-terminal's, which has no modem lines, is ignored.
int setModemLines(const Settings& settings, bool pseudoTerminal, const ModemLineIoctl& ioctl);

}  // namespace serial::internal
