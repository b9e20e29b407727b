#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "device.h"
#include "serial_error.h"
#include "unique_handle_win32.h"

namespace serial {

// The Windows device behind openDevice(): a communications handle held exclusively.
class Win32Device final : public Device {
 public:
  // Opens `path` ("\\.\COM1") and applies the settings; throws SerialError.
  Win32Device(std::wstring path, const Settings& settings);

  void write(std::string_view bytes) override;
  void drain() override;

  HANDLE handle() const { return handle_.get(); }

 private:
  [[noreturn]] void fail(ErrorCode code, const char* operation, DWORD error) const;
  [[noreturn]] void fail(ErrorCode code, const char* operation, const std::string& reason) const;
  void applySettings();

  std::string path_;  // UTF-8, for messages
  Settings settings_;
  win32::UniqueHandle lock_;
  win32::UniqueHandle handle_;
};

std::unique_ptr<Win32Device> openWin32Device(const std::wstring& path, const Settings& settings);

namespace win32 {

// Windows' serial drivers refuse a second opener; Wine's do not. This lock file, opened
// unshared, keeps a second copy of the program off the port there as well. `error` is
// ERROR_SHARING_VIOLATION while another holds it; any other failure is no reason to stop.
UniqueHandle lockPort(const std::wstring& path, DWORD* error);

// The error for a CreateFile failure: a held COM port answers "access denied".
ErrorCode openErrorCode(DWORD error);

// The system's text for an error, with its number: "Access is denied. (error 5)".
std::string systemReason(DWORD error);

}  // namespace win32
}  // namespace serial
