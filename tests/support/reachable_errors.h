#pragma once

#include "serial/serial_error.h"

namespace testing_support {

// Every error of the port a user can meet, on either system: each needs advice that is true
// where it is shown.
inline constexpr serial::ErrorCode kReachableErrors[] = {
    serial::ErrorCode::OpenFailed,      serial::ErrorCode::NoSuchPort,
    serial::ErrorCode::InUse,           serial::ErrorCode::PermissionDenied,
    serial::ErrorCode::NotSerialDevice, serial::ErrorCode::SettingsRejected,
    serial::ErrorCode::WriteFailed,     serial::ErrorCode::WriteTimedOut,
};

}  // namespace testing_support
