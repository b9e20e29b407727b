#include "serial/mscomm.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "serial/big5.h"
#include "serial/internal/transmitter.h"
#include "serial/internal/watchdog.h"
#include "serial/internal/worker.h"
#include "texts/texts.h"

namespace serial {
namespace {

// Formatted by hand, not with printf: in the Windows exe printf alone would add a fifth of its
// size. "10.3": a duration in seconds to a tenth, halves rounded up.
std::string secondsText(std::chrono::milliseconds duration) {
  const auto tenths = (duration.count() + 50) / 100;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// "U+0E01": a UTF-16 code unit as Unicode writes it.
std::string codeUnitText(char16_t unit) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "U+0000";
  for (std::size_t i = text.size(); unit != 0; unit >>= 4) text[--i] = kDigits[unit & 0xF];
  return text;
}

}  // namespace

MSComm::MSComm(Settings settings, DeviceOpener opener)
    : settings_(settings),
      opener_(std::move(opener)),
      watchdog_(std::make_unique<internal::Watchdog>(stallLimit(settings_))),
      worker_(std::make_unique<internal::Worker>()) {}

MSComm::~MSComm() {
  // The windows have called finish() and reported; only running out of memory for a new
  // worker could raise here, with nobody left to tell.
  try {
    (void)finish();
  } catch (...) {  // NOLINT(bugprone-empty-catch)
  }
}

void MSComm::fail(ErrorCode code, const std::string& operation, const std::string& reason) const {
  throw serialError(code, portName(settings_), devicePath(settings_.port), operation, reason);
}

SerialError MSComm::stallError(const std::string& operation) const {
  return serialError(ErrorCode::WriteTimedOut, portName(settings_), devicePath(settings_.port),
                     operation,
                     texts::text(texts::Text::DidNotAnswer, {secondsText(stallLimit(settings_))}));
}

std::optional<SerialError> MSComm::settle(std::unique_ptr<internal::Transmitter>& session) {
  session->join();
  auto failure = session->failure();
  std::lock_guard lock(sessions_);
  if (session->stalled()) {
    // Its thread may never come back, and would then still use them: the session, its worker
    // and its watchdog are left to it, and later sessions get new ones.
    (void)session.release();
    (void)worker_.release();
    (void)watchdog_.release();
    worker_ = std::make_unique<internal::Worker>();
    watchdog_ = std::make_unique<internal::Watchdog>(stallLimit(settings_));
  } else {
    session.reset();
  }
  return failure;
}

void MSComm::setPortOpen(bool open) {
  if (!open) {
    if (open_) {
      open_->finish();
      std::lock_guard lock(sessions_);
      closing_ = std::move(open_);
    }
    return;
  }
  if (open_) fail(ErrorCode::PortAlreadyOpen, texts::text(texts::Text::DoingOpen), "");
  if (closing_) {
    // The previous receipt is still on its way: the port is ours again once it has gone.
    // The last receipt did not reach the line whole: say so.
    if (const auto failure = settle(closing_)) throw *failure;
  }
  auto session = std::make_unique<internal::Transmitter>(
      *worker_, *watchdog_, opener_(settings_), settings_.outBufferSize, listener_,
      [this](const std::string& operation) { return stallError(operation); });
  std::lock_guard lock(sessions_);
  open_ = std::move(session);
}

std::size_t MSComm::abandon() {
  std::lock_guard lock(sessions_);
  std::size_t discarded = 0;
  for (auto* session : {open_.get(), closing_.get()}) {
    if (session) discarded += session->abandon();
  }
  return discarded;
}

std::optional<MSComm::Backlog> MSComm::backlog() const {
  std::lock_guard lock(sessions_);
  const internal::Transmitter* session = open_ ? open_.get() : closing_.get();
  if (!session) return std::nullopt;
  // Taken before queued: a byte is queued before it can be taken.
  const std::size_t taken = session->taken();
  const std::size_t queued = session->queuedTotal();
  return Backlog{queued, queued - std::min(taken, queued)};
}

std::optional<SerialError> MSComm::takeFailure() {
  if (open_) return open_->failure();  // every later Output raises it too
  if (!closing_ || !closing_->failure()) return std::nullopt;
  return settle(closing_);  // the device is released once it has failed
}

std::optional<SerialError> MSComm::finish() {
  setPortOpen(false);
  if (!closing_) return std::nullopt;
  return settle(closing_);
}

void MSComm::setOutput(std::u16string_view text) {
  if (!open_) fail(ErrorCode::PortNotOpen, "Output", "");
  if (auto failure = open_->failure()) throw *failure;
  std::size_t bad = 0;
  const auto bytes = toBig5(text, &bad);
  if (!bytes) {
    // The converter may not say which one.
    fail(ErrorCode::NotBig5, "Output",
         bad < text.size() ? texts::text(texts::Text::CharacterNotBig5,
                                         {std::to_string(bad + 1), codeUnitText(text[bad])})
                           : texts::text(texts::Text::SomeCharacterNotBig5));
  }
  if (!open_->queue(*bytes)) {
    fail(ErrorCode::QueueFull, "Output",
         texts::text(texts::Text::QueueTooSmall,
                     {std::to_string(bytes->size()), std::to_string(settings_.outBufferSize)}));
  }
}

}  // namespace serial
