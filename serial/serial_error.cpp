#include "serial/serial_error.h"

#include "texts/texts.h"

namespace serial {

SerialError serialError(ErrorCode code, const std::string& port, const std::string& device,
                        const std::string& operation, const std::string& reason,
                        const std::string& advice) {
  using texts::Text;
  std::string text = reason.empty()
                         ? texts::text(Text::PortError, {port, device, operation})
                         : texts::text(Text::PortErrorBecause, {port, device, operation, reason});
  const std::string said = advice.empty() ? adviceFor(code) : advice;
  if (!said.empty()) text = texts::text(Text::TwoSentences, {text, said});
  return SerialError(code, text);
}

std::string adviceFor(ErrorCode code) {
  using texts::Text;
  switch (code) {
    case ErrorCode::OpenFailed:
      return texts::text(Text::AdviceOpenFailed);
    case ErrorCode::NoSuchPort:
      return texts::text(Text::AdviceNoSuchPort);
    case ErrorCode::PortAlreadyOpen:
      return texts::text(Text::AdvicePortAlreadyOpen);
    case ErrorCode::InUse:
      return texts::text(Text::AdviceInUse);
    case ErrorCode::PermissionDenied:
      return texts::text(Text::AdvicePermissionDenied);
    case ErrorCode::NotSerialDevice:
      return texts::text(Text::AdviceNotSerialDevice);
    case ErrorCode::SettingsRejected:
      return texts::text(Text::AdviceSettingsRejected);
    case ErrorCode::PortNotOpen:
      return texts::text(Text::AdvicePortNotOpen);
    case ErrorCode::WriteFailed:
      return texts::text(Text::AdviceWriteFailed);
    case ErrorCode::WriteTimedOut:
      // With no handshaking a printer cannot hold the line back: what stopped is on this side.
      return texts::text(Text::AdviceWriteTimedOut);
    case ErrorCode::QueueFull:
      return texts::text(Text::AdviceQueueFull);
    case ErrorCode::NotBig5:
      return texts::text(Text::AdviceNotBig5);
  }
  return {};
}

}  // namespace serial
