#pragma once

#include <windows.h>

#include <chrono>
#include <memory>
#include <string>

#include "serial/device.h"
#include "serial/serial_error.h"
#include "win32/unique_handle.h"

namespace serial::internal {

// What keeps a second program off the port: the driver, or a lock file of our own.
enum class Exclusivity { Driver, LockFile };

// LockFile under Wine, Driver on Windows.
Exclusivity exclusivityHere();

// The Windows device behind openDevice(): a communications handle held exclusively.
class Win32Device final : public Device {
 public:
  // Opens `path` ("\\.\COM1") and applies the settings; throws SerialError.
  Win32Device(std::wstring path, const Settings& settings,
              Exclusivity exclusivity = exclusivityHere());
  // Output that was never drained (a write or drain failed) is discarded first, so that
  // closing cannot wait on it.
  ~Win32Device() override;
  Win32Device(const Win32Device&) = delete;
  Win32Device& operator=(const Win32Device&) = delete;

  void write(std::string_view bytes) override;
  void drain() override;

  HANDLE handle() const { return handle_.get(); }

 private:
  [[noreturn]] void fail(ErrorCode code, Operation operation, DWORD error) const;
  [[noreturn]] void fail(ErrorCode code, Operation operation, const std::string& reason,
                         const std::string& advice = {}) const;
  void lock(const std::wstring& path);
  void applyLineSettings(const DCB& current);

  std::string path_;  // UTF-8, for messages
  Settings settings_;
  win32::UniqueHandle lock_;  // released after the port
  win32::UniqueHandle handle_;
  bool drained_ = true;           // nothing written since the last drain
  bool discardUndrained_ = true;  // not for a pseudo-terminal under Wine
};

// The lock file for `path` in the temporary folder, opened unshared and deleted on close.
// `error` is ERROR_SHARING_VIOLATION while another holds it; `file` is where it is.
win32::UniqueHandle lockPort(const std::wstring& path, DWORD* error, std::wstring* file = nullptr);

}  // namespace serial::internal
