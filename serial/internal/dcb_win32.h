#pragma once

#include <windows.h>

#include <chrono>
#include <string>

#include "serial/settings.h"

namespace serial::internal {

// Empty when the settings can be put in a DCB, else what is wrong with them.
std::string unsupportedSettings(const Settings& settings);

// The line state for SetCommState, from what the port had: every field set. Only for settings
// unsupportedSettings() passed.
DCB makeDcb(const Settings& settings, const DCB& current);

// How long one WriteFile call may wait for the line before it returns with what it sent.
inline constexpr std::chrono::milliseconds kWriteSlice{200};

// Reads return at once (nothing is ever read); a write call returns within kWriteSlice (or the
// write timeout, if shorter) with whatever it has sent.
COMMTIMEOUTS makeTimeouts(const Settings& settings);

// Empty when the port took the line settings that decide whether the printer reads the
// bytes (speed, framing, flow control), else which of them it kept differently.
std::string lineSettingsMismatch(const DCB& wanted, const DCB& got);

}  // namespace serial::internal
