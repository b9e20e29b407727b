#include "device_win32.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

#include "comm_config_win32.h"
#include "wide_win32.h"

namespace serial {
namespace {

using Clock = std::chrono::steady_clock;

// How many bytes the driver still holds for the line; nullopt when it cannot say.
std::optional<DWORD> outputQueued(HANDLE h) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(h, &errors, &status)) return std::nullopt;
  return status.cbOutQue;
}

}  // namespace

Win32Device::Win32Device(std::wstring path, const Settings& settings)
    : path_(win32::toUtf8(path)), settings_(settings) {
  DWORD lockError = 0;
  lock_ = win32::lockPort(path, &lockError);
  if (lockError == ERROR_SHARING_VIOLATION) fail(ErrorCode::InUse, "open", lockError);
  // Share mode 0: nobody else may open the port while we hold it.
  handle_ =
      win32::UniqueHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_) {
    const DWORD error = ::GetLastError();
    fail(win32::openErrorCode(error), "open", error);
  }
  const DWORD type = ::GetFileType(handle_.get());
  // A device of no known type is no port at all: Wine hands out one for a COM port whose
  // Unix device is missing.
  if (type == FILE_TYPE_UNKNOWN) {
    fail(ErrorCode::NoSuchPort, "open", "no known device at this name (file type 0)");
  }
  if (type != FILE_TYPE_CHAR) {
    fail(ErrorCode::NotSerialDevice, "open",
         "not a character device (file type " + std::to_string(type) + ")");
  }
  DCB current{};
  current.DCBlength = sizeof current;
  if (!::GetCommState(handle_.get(), &current)) {
    fail(ErrorCode::NotSerialDevice, "GetCommState", ::GetLastError());
  }
  applySettings();
}

void Win32Device::applySettings() {
  if (const auto bad = win32::unsupportedSettings(settings_); !bad.empty()) {
    fail(ErrorCode::SettingsRejected, "SetCommState", "unsupported: " + bad);
  }
  // Only a recommendation to the driver, which may keep its own sizes: not worth failing for.
  ::SetupComm(handle_.get(), static_cast<DWORD>(settings_.inBufferSize),
              static_cast<DWORD>(settings_.outBufferSize));

  DCB wanted = win32::makeDcb(settings_);
  if (!::SetCommState(handle_.get(), &wanted)) {
    fail(ErrorCode::SettingsRejected, "SetCommState", ::GetLastError());
  }
  // Some drivers accept a DCB and quietly keep what they cannot do.
  DCB got{};
  got.DCBlength = sizeof got;
  if (!::GetCommState(handle_.get(), &got)) {
    fail(ErrorCode::SettingsRejected, "GetCommState", ::GetLastError());
  }
  if (const auto kept = win32::lineSettingsMismatch(wanted, got); !kept.empty()) {
    fail(ErrorCode::SettingsRejected, "SetCommState", "the port kept " + kept);
  }

  COMMTIMEOUTS timeouts = win32::makeTimeouts(settings_);
  if (!::SetCommTimeouts(handle_.get(), &timeouts)) {
    fail(ErrorCode::SettingsRejected, "SetCommTimeouts", ::GetLastError());
  }
}

void Win32Device::write(std::string_view bytes) {
  const COMMTIMEOUTS timeouts = win32::makeTimeouts(settings_);
  // At most a transmit buffer's worth a call, so that one call's timeout stays short.
  const std::size_t most = std::max<std::size_t>(settings_.outBufferSize, 1);
  while (!bytes.empty()) {
    const DWORD size = static_cast<DWORD>(std::min(bytes.size(), most));
    DWORD written = 0;
    if (!::WriteFile(handle_.get(), bytes.data(), size, &written, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_TIMEOUT && error != ERROR_SEM_TIMEOUT) {
        fail(ErrorCode::WriteFailed, "write", error);
      }
    }
    // The write timeouts ran out: with some progress the printer is only slow, so go on;
    // with none it has stopped taking data.
    if (written == 0) {
      const DWORD waited =
          timeouts.WriteTotalTimeoutConstant + timeouts.WriteTotalTimeoutMultiplier * size;
      fail(
          ErrorCode::WriteTimedOut, "write",
          "no byte of " + std::to_string(size) + " taken within " + std::to_string(waited) + " ms");
    }
    bytes.remove_prefix(std::min<std::size_t>(written, bytes.size()));
  }
}

void Win32Device::drain() {
  // Wait while the driver's queue moves; a line that stops moving fails after the timeout.
  auto deadline = Clock::now() + settings_.writeTimeout;
  auto queued = outputQueued(handle_.get());
  while (queued && *queued > 0) {
    if (Clock::now() >= deadline) {
      fail(ErrorCode::WriteTimedOut, "drain",
           std::to_string(*queued) + " bytes not sent within " +
               std::to_string(settings_.writeTimeout.count()) + " ms");
    }
    const auto step = lineTime(settings_, *queued);
    std::this_thread::sleep_for(std::clamp<std::chrono::microseconds>(
        step, std::chrono::milliseconds(1), std::chrono::milliseconds(20)));
    const auto now = outputQueued(handle_.get());
    if (now && *now < *queued) deadline = Clock::now() + settings_.writeTimeout;
    queued = now;
  }
  // Drivers that buffer past the queue they report (USB adapters) finish here.
  if (!::FlushFileBuffers(handle_.get())) fail(ErrorCode::WriteFailed, "drain", ::GetLastError());
}

void Win32Device::fail(ErrorCode code, const char* operation, DWORD error) const {
  fail(code, operation, win32::systemReason(error));
}

void Win32Device::fail(ErrorCode code, const char* operation, const std::string& reason) const {
  throw SerialError(code, describe(portName(settings_), path_, operation, reason, adviceFor(code)));
}

std::unique_ptr<Win32Device> openWin32Device(const std::wstring& path, const Settings& settings) {
  return std::make_unique<Win32Device>(path, settings);
}

std::unique_ptr<Device> openDevice(const Settings& settings) {
  return openWin32Device(win32::toWide(devicePath(settings.port)), settings);
}

std::string devicePath(int port) { return "\\\\.\\COM" + std::to_string(port); }

namespace win32 {

UniqueHandle lockPort(const std::wstring& path, DWORD* error) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) {
    *error = ::GetLastError();
    return {};
  }
  std::wstring name = path.substr(path.find_last_of(L"\\/:") + 1);
  UniqueHandle lock(::CreateFileW((temp + (L"Project1-serial-" + name + L".lock")).c_str(),
                                  GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  *error = lock ? ERROR_SUCCESS : ::GetLastError();
  return lock;
}

ErrorCode openErrorCode(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ErrorCode::NoSuchPort;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return ErrorCode::InUse;
    default:
      return ErrorCode::OpenFailed;
  }
}

std::string systemReason(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer ? buffer : L"", n);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  const std::string number = "(error " + std::to_string(error) + ")";
  return text.empty() ? "Unknown error " + number : toUtf8(text) + " " + number;
}

}  // namespace win32
}  // namespace serial
