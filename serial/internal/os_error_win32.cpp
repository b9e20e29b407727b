#include "serial/internal/os_error.h"

#include "texts/language_win32.h"
#include "texts/texts.h"
#include "win32/wide.h"
#include "win32/wine.h"

namespace serial::internal {

using texts::Text;

Host hostHere() { return win32::underWine() ? Host::Wine : Host::Windows; }

// A held COM port answers "access denied".
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

// Windows' own advice: a missing COM1 is often a USB adapter numbered higher.
std::string advice(ErrorCode code, const PortKind& port) {
  switch (code) {
    // The port's driver answered: Device Manager shows whether it works.
    case ErrorCode::OpenFailed:
      return texts::text(Text::WindowsAdviceOpenFailed);
    case ErrorCode::SettingsRejected:
      return texts::text(Text::WindowsAdviceSettingsRejected);
    case ErrorCode::NoSuchPort:
      return texts::text(Text::WindowsAdviceNoSuchPort);
    case ErrorCode::WriteTimedOut:
      if (port.host == Host::Wine && port.pseudoTerminal) {
        return texts::text(Text::WineAdvicePseudoTerminalStopped);
      }
      return adviceFor(code);
    default:
      return adviceFor(code);
  }
}

// "Access denied" is also how a port this user may not open answers, and, under Wine, a COM
// port that leads to a folder.
std::string openAdvice(DWORD error, const PortKind& port) {
  if (error != ERROR_ACCESS_DENIED) return advice(openErrorCode(error), port);
  std::string text = texts::text(Text::WindowsAdviceAccessDenied);
  if (port.host == Host::Wine) {
    text = texts::text(Text::TwoSentences, {text, texts::text(Text::WineAdviceAccessDenied)});
  }
  return text;
}

std::string systemReason(DWORD error) {
  wchar_t* buffer = nullptr;
  // In the language of the rest of the box; in the system's own where it lacks that one.
  const auto format = [&](DWORD language) {
    return ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, language, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  };
  DWORD n = format(texts::language());
  if (n == 0) n = format(0);
  std::wstring text(buffer ? buffer : L"", n);
  if (buffer) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  const std::string number = std::to_string(error);
  return text.empty() ? texts::text(Text::UnknownSystemError, {number})
                      : texts::text(Text::SystemReason, {win32::toUtf8(text), number});
}

}  // namespace serial::internal
