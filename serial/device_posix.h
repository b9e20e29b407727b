#pragma once

#include <memory>
#include <string>

#include "serial/device.h"

namespace serial {

// The POSIX device behind openDevice(), on any path: tests hand it a pseudo-terminal.
std::unique_ptr<Device> openPosixDevice(const std::string& path, const Settings& settings);

}  // namespace serial
