#include "serial/internal/os_error.h"

#include <langinfo.h>

#include <cerrno>
#include <cstring>

#include "texts/texts.h"

namespace serial::internal {

ErrorCode openErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case EIO:
      return ErrorCode::NoSuchPort;
    case EBUSY:
      return ErrorCode::InUse;
    case EACCES:
    case EPERM:
      return ErrorCode::PermissionDenied;
    case EISDIR:
    case ENOTTY:
      return ErrorCode::NotSerialDevice;
    default:
      return ErrorCode::OpenFailed;
  }
}

// Linux's own advice: the usual holders of a port, the dialout group, and project1-port for an
// adapter that is not port 1.
std::string advice(ErrorCode code, const PortKind& port) {
  using texts::Text;
  switch (code) {
    case ErrorCode::OpenFailed:
      return texts::text(Text::LinuxAdviceOpenFailed, {port.kernelName});
    case ErrorCode::NoSuchPort:
      return texts::text(Text::LinuxAdviceNoSuchPort);
    case ErrorCode::InUse:
      return texts::text(Text::LinuxAdviceInUse, {port.kernelName});
    case ErrorCode::PermissionDenied:
      return texts::text(Text::LinuxAdvicePermissionDenied);
    case ErrorCode::NotSerialDevice:
      return texts::text(Text::LinuxAdviceNotSerialDevice);
    case ErrorCode::WriteTimedOut:
      // With no handshaking a printer cannot hold the line back: what stopped is on this side.
      if (port.pseudoTerminal) return texts::text(Text::AdvicePseudoTerminalStopped);
      return adviceFor(code);
    default:
      return adviceFor(code);
  }
}

std::string openAdvice(int err, const PortKind& port) { return advice(openErrorCode(err), port); }

std::string systemReason(int err) {
  // The system's words in the user's language where they come as UTF-8, as every other text
  // does; in English where the locale's character set is another.
  const bool utf8 = std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0;
  const char* said = utf8 ? std::strerror(err) : ::strerrordesc_np(err);
  return texts::text(texts::Text::ErrnoReason,
                     {said ? said : std::strerror(err), std::to_string(err)});
}

}  // namespace serial::internal
