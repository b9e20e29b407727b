#include "app/form1_events.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "texts/texts.h"

#include "receipt/print_run.h"
#include "serial/serial_error.h"

namespace app {

Form1Events::Form1Events(serial::DeviceOpener opener)
    : MSComm1_(serial::Settings{}, std::move(opener)) {}

std::optional<ErrorReport> Form1Events::click() {
  if (ended_) return std::nullopt;
  try {
    receipt::runPrintTest(MSComm1_);
    printed_ = true;
    return std::nullopt;
  } catch (const serial::SerialError& e) {
    return end(reportFor(e));
  } catch (const std::exception& e) {
    // Not the port's doing (out of memory, a missing converter): still reported, never lost.
    return end(
        ErrorReport{kInternalErrorNumber, texts::text(texts::Text::InternalError, {e.what()})});
  }
}

void Form1Events::wakeOnLateFailure(std::function<void()> wake) {
  // The failure itself stays with MSComm1 until lateFailure() takes it on the window's thread:
  // the wake carries nothing, so a late one, or one too many, finds nothing and is harmless.
  MSComm1_.setFailureListener(std::move(wake));
}

std::optional<ErrorReport> Form1Events::lateFailure() {
  if (ended_) return std::nullopt;
  if (const auto failure = MSComm1_.takeFailure()) return end(reportFor(*failure));
  return std::nullopt;
}

std::optional<ErrorReport> Form1Events::close() {
  if (ended_) return std::nullopt;
  if (const auto failure = MSComm1_.finish()) return end(reportFor(*failure));
  return std::nullopt;
}

std::optional<std::string> Form1Events::displayLost() noexcept {
  try {
    if (const auto failure = MSComm1_.finish()) return reportFor(*failure).line();
    if (printed_ && !ended_) {
      return texts::text(texts::Text::DisplayLostAllOut);
    }
    return std::nullopt;
  } catch (...) {
    return texts::text(texts::Text::DisplayLostMayNot);
  }
}

std::string Form1Events::stopNow() {
  using texts::Text;
  const std::string port = serial::devicePath(MSComm1_.settings().port);
  auto backlog = MSComm1_.backlog();
  // What a real port still held is discarded, not sent: it never leaves the port.
  const std::size_t discarded = MSComm1_.abandon();
  if (!backlog || backlog->queued == 0) return texts::text(Text::StoppedNothingLeft, {port});
  backlog->unsent = std::min(backlog->queued, backlog->unsent + discarded);
  const std::string all = std::to_string(backlog->queued);
  if (backlog->unsent == 0) {
    return texts::text(Text::StoppedWhileDraining, {all, port});
  }
  return texts::text(Text::StoppedBeforeSent, {std::to_string(backlog->unsent), all, port});
}

std::optional<ErrorReport> Form1Events::end(ErrorReport report) {
  ended_ = true;
  return report;
}

}  // namespace app
