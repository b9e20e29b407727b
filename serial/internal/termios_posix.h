#pragma once

#include <termios.h>

#include <string>

#include "serial/settings.h"

namespace serial::internal {

// Empty when the settings can be put in a termios, else what is wrong with them.
std::string unsupportedSettings(const Settings& settings);

// The line state for tcsetattr, from what the port had: raw, with every field the settings
// name set. Only for settings unsupportedSettings() passed.
termios makeTermios(const Settings& settings, const termios& current);

// Empty when the port took the line settings that decide whether the printer reads the
// bytes (speed, framing, flow control, no output processing), else which it kept differently.
std::string lineSettingsMismatch(const termios& wanted, const termios& got);

}  // namespace serial::internal
