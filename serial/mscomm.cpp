#include "mscomm.h"

#include <cstdio>

#include "big5.h"

namespace serial {

MSComm::MSComm(Settings settings, DeviceOpener opener)
    : settings_(settings), opener_(std::move(opener)) {}

MSComm::~MSComm() = default;  // each Transmitter finishes and joins in turn

void MSComm::fail(ErrorCode code, const std::string& operation, const std::string& reason) const {
  throw SerialError(code, describe(portName(settings_), devicePath(settings_.port), operation,
                                   reason, adviceFor(code)));
}

void MSComm::setPortOpen(bool open) {
  if (!open) {
    if (open_) {
      open_->finish();
      closing_ = std::move(open_);
    }
    return;
  }
  if (open_) fail(ErrorCode::PortAlreadyOpen, "open", "");
  if (closing_) {
    // The previous receipt is still on its way: the port is ours again once it has gone.
    closing_->join();
    const auto failure = closing_->failure();
    closing_.reset();
    if (failure) throw *failure;  // the last receipt did not reach the line whole: say so
  }
  open_ = std::make_unique<Transmitter>(worker_, opener_(settings_), settings_.outBufferSize,
                                        listener_);
}

std::optional<SerialError> MSComm::takeFailure() {
  if (open_) return open_->failure();  // every later Output raises it too
  if (!closing_ || !closing_->failure()) return std::nullopt;
  closing_->join();  // the device is released once it has failed
  auto failure = closing_->failure();
  closing_.reset();
  return failure;
}

std::optional<SerialError> MSComm::finish() {
  setPortOpen(false);
  if (!closing_) return std::nullopt;
  closing_->join();
  auto failure = closing_->failure();
  closing_.reset();
  return failure;
}

void MSComm::setOutput(std::u16string_view text) {
  if (!open_) fail(ErrorCode::PortNotOpen, "Output", "");
  if (auto failure = open_->failure()) throw *failure;
  std::size_t bad = 0;
  const auto bytes = toBig5(text, &bad);
  if (!bytes) {
    char code[16];
    (void)std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(text[bad]));
    fail(ErrorCode::NotBig5, "Output",
         "character " + std::to_string(bad + 1) + " (" + code + ") has no Big5 form");
  }
  if (!open_->queue(*bytes)) {
    fail(ErrorCode::QueueFull, "Output",
         std::to_string(bytes->size()) + " bytes do not fit in the " +
             std::to_string(settings_.outBufferSize) + "-byte transmit queue");
  }
}

}  // namespace serial
