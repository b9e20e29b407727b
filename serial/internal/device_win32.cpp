#include "serial/internal/device_win32.h"

#include <algorithm>
#include <thread>

#include "serial/internal/dcb_win32.h"
#include "serial/internal/line_watch.h"
#include "serial/internal/os_error.h"
#include "texts/texts.h"
#include "win32/wide.h"

namespace serial::internal {

using win32::toUtf8;
using win32::UniqueHandle;

namespace {

using texts::Text;

using Clock = std::chrono::steady_clock;

// How many bytes the driver still holds for the line; nullopt when it cannot say.
std::optional<std::size_t> outputQueued(HANDLE h) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(h, &errors, &status)) return std::nullopt;
  return status.cbOutQue;
}

}  // namespace

Win32Device::Win32Device(std::wstring path, const Settings& settings, Exclusivity exclusivity)
    : path_(toUtf8(path)), settings_(settings) {
  if (exclusivity == Exclusivity::LockFile) lock(path);
  // Share mode 0: nobody else may open the port while we hold it.
  handle_ = UniqueHandle(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_) {
    const DWORD error = ::GetLastError();
    fail(openErrorCode(error), Text::DoingOpen, systemReason(error), openAdvice(error));
  }
  const DWORD type = ::GetFileType(handle_.get());
  // A device of no known type is no port at all: Wine hands out one for a COM port whose
  // Unix device is missing.
  if (type == FILE_TYPE_UNKNOWN) {
    fail(ErrorCode::NoSuchPort, Text::DoingOpen, texts::text(Text::NoKnownDevice));
  }
  if (type != FILE_TYPE_CHAR) {
    fail(ErrorCode::NotSerialDevice, Text::DoingOpen,
         texts::text(Text::NotCharacterDevice, {std::to_string(type)}));
  }
  DCB current{};
  current.DCBlength = sizeof current;
  if (!::GetCommState(handle_.get(), &current)) {
    fail(ErrorCode::NotSerialDevice, "GetCommState", ::GetLastError());
  }
  // Under Wine a port without modem lines is a pseudo-terminal: closing it never waits, and
  // its reader may still take what is queued there, so nothing of it is discarded.
  DWORD modem = 0;
  discardUndrained_ = hostHere() != Host::Wine || ::GetCommModemStatus(handle_.get(), &modem);
  applyLineSettings(current);
}

Win32Device::~Win32Device() {
  if (handle_ && !drained_ && discardUndrained_) {
    ::PurgeComm(handle_.get(), PURGE_TXABORT | PURGE_TXCLEAR);
  }
}

void Win32Device::lock(const std::wstring& path) {
  DWORD error = 0;
  std::wstring file;
  lock_ = lockPort(path, &error, &file);
  if (lock_) return;
  if (error == ERROR_SHARING_VIOLATION) fail(ErrorCode::InUse, Text::DoingOpen, error);
  // Without the lock another copy of the program could share the port, and the two
  // receipts would come out mixed: better not to print at all.
  const std::string where = file.empty() ? texts::text(Text::TheTemporaryFolder) : toUtf8(file);
  fail(ErrorCode::OpenFailed, Text::DoingLock,
       texts::text(Text::NoLockFile, {where, systemReason(error)}),
       texts::text(Text::WineAdviceNoLockFile));
}

void Win32Device::applyLineSettings(const DCB& current) {
  if (const auto bad = unsupportedSettings(settings_); !bad.empty()) {
    fail(ErrorCode::SettingsRejected, "SetCommState", texts::text(Text::Unsupported, {bad}));
  }
  // Only a recommendation to the driver, which may keep its own sizes: not worth failing for.
  ::SetupComm(handle_.get(), static_cast<DWORD>(settings_.inBufferSize),
              static_cast<DWORD>(settings_.outBufferSize));

  DCB wanted = makeDcb(settings_, current);
  if (!::SetCommState(handle_.get(), &wanted)) {
    fail(ErrorCode::SettingsRejected, "SetCommState", ::GetLastError());
  }
  // Some drivers accept a DCB and quietly keep what they cannot do.
  DCB got{};
  got.DCBlength = sizeof got;
  if (!::GetCommState(handle_.get(), &got)) {
    fail(ErrorCode::SettingsRejected, "GetCommState", ::GetLastError());
  }
  if (const auto kept = lineSettingsMismatch(wanted, got); !kept.empty()) {
    fail(ErrorCode::SettingsRejected, "SetCommState", texts::text(Text::PortKept, {kept}));
  }

  COMMTIMEOUTS timeouts = makeTimeouts(settings_);
  if (!::SetCommTimeouts(handle_.get(), &timeouts)) {
    fail(ErrorCode::SettingsRejected, "SetCommTimeouts", ::GetLastError());
  }
}

void Win32Device::write(std::string_view bytes) {
  drained_ = false;
  // Each call returns within a slice (makeTimeouts) with whatever it sent: a pseudo-terminal
  // under Wine frees room without waking a waiting writer, and a line that stopped is told
  // from a slow one between calls, by the bytes taken and the driver's queue.
  const std::size_t most = std::max<std::size_t>(settings_.outBufferSize, 1);
  LineWatch watch(settings_, QueueView::UntilSeen, Clock::now());
  while (!bytes.empty()) {
    const DWORD size = static_cast<DWORD>(std::min(bytes.size(), most));
    DWORD written = 0;
    const auto called = Clock::now();
    if (!::WriteFile(handle_.get(), bytes.data(), size, &written, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_TIMEOUT && error != ERROR_SEM_TIMEOUT) {
        fail(ErrorCode::WriteFailed, Text::DoingWrite, error);
      }
    }
    if (written > 0) {
      const std::size_t sent = std::min<std::size_t>(written, bytes.size());
      bytes.remove_prefix(sent);
      watch.taken(Clock::now());
      took(sent);
      continue;
    }
    // A driver that answers at once instead of waiting its slice is not spun on.
    if (Clock::now() - called < std::chrono::milliseconds(10)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (watch.queued(outputQueued(handle_.get()), Clock::now())) progressed();
    if (watch.stopped(Clock::now())) {
      fail(ErrorCode::WriteTimedOut, Text::DoingWrite, watch.standingStill());
    }
  }
}

void Win32Device::drain() {
  // FlushFileBuffers is no way to wait for the line: it has no time limit (a wedged USB
  // adapter holds it for ever), and Wine answers it with tcflush, which discards.
  const auto reason = drainQueue(
      settings_, QueueView::UntilSeen, std::chrono::milliseconds(1),
      [this] { return outputQueued(handle_.get()); }, [this] { progressed(); });
  if (reason) fail(ErrorCode::WriteTimedOut, Text::DoingDrain, *reason);
  drained_ = true;
}

void Win32Device::fail(ErrorCode code, Operation operation, DWORD error) const {
  fail(code, operation, systemReason(error));
}

void Win32Device::fail(ErrorCode code, Operation operation, const std::string& reason,
                       const std::string& advice) const {
  // Windows' own advice for every error of the port; Wine finds no device where Windows
  // finds no file.
  throw serialError(
      code, portName(settings_), path_, operation.text(), reason,
      advice.empty() ? internal::advice(code, {hostHere(), !discardUndrained_}) : advice);
}

}  // namespace serial::internal

namespace serial {

std::unique_ptr<Device> openDeviceAt(const std::string& path, const Settings& settings) {
  return std::make_unique<internal::Win32Device>(win32::toWide(path), settings);
}

std::unique_ptr<Device> openDevice(const Settings& settings) {
  return openDeviceAt(devicePath(settings.port), settings);
}

std::string devicePath(int port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace serial

namespace serial::internal {

// Windows' serial drivers refuse a second opener; Wine's do not, so there a lock file does it.
// On Windows the program writes no files.
Exclusivity exclusivityHere() {
  return hostHere() == Host::Wine ? Exclusivity::LockFile : Exclusivity::Driver;
}

UniqueHandle lockPort(const std::wstring& path, DWORD* error, std::wstring* file) {
  wchar_t temp[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, temp);
  if (n == 0 || n > MAX_PATH) {
    *error = n == 0 ? ::GetLastError() : static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE);
    return {};
  }
  const std::wstring name = path.substr(path.find_last_of(L"\\/:") + 1);
  const std::wstring lockFile = temp + (L"Project1-serial-" + name + L".lock");
  if (file) *file = lockFile;
  UniqueHandle lock(::CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                  nullptr));
  *error = lock ? ERROR_SUCCESS : ::GetLastError();
  return lock;
}

}  // namespace serial::internal
