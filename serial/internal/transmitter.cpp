#include "serial/internal/transmitter.h"

namespace serial::internal {

Transmitter::Transmitter(Worker& worker, Watchdog& watchdog, std::unique_ptr<Device> device,
                         std::size_t capacity, std::function<void()> onFailure,
                         StallError stallError)
    : watchdog_(watchdog),
      device_(std::move(device)),
      capacity_(capacity),
      onFailure_(std::move(onFailure)),
      stallError_(std::move(stallError)) {
  device_->watch(&progress_);
  worker.post([this] { run(); });
}

Transmitter::~Transmitter() {
  finish();
  join();
}

bool Transmitter::queue(std::string_view bytes) {
  {
    std::lock_guard lock(mutex_);
    if (queued_.size() + inFlight_ + bytes.size() > capacity_) return false;
    queued_.append(bytes);
    queuedTotal_ += bytes.size();
  }
  wake_.notify_one();
  return true;
}

std::optional<SerialError> Transmitter::failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::size_t Transmitter::queuedTotal() const {
  std::lock_guard lock(mutex_);
  return queuedTotal_;
}

std::size_t Transmitter::abandon() {
  const std::unique_lock lock(deviceMutex_, std::try_to_lock);
  return lock && device_ ? device_->abandon() : 0;
}

bool Transmitter::stalled() const {
  std::lock_guard lock(mutex_);
  return stalled_;
}

void Transmitter::finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  wake_.notify_one();
}

void Transmitter::join() {
  std::unique_lock lock(mutex_);
  released_.wait(lock, [this] { return done_ || stalled_; });
}

bool Transmitter::call(texts::Text operation, const std::function<void()>& body) {
  progress_.mark();
  watchdog_.arm(progress_, [this, operation] { stall(texts::text(operation)); });
  std::optional<SerialError> error;
  try {
    body();
  } catch (const SerialError& e) {
    error = e;
  }
  watchdog_.disarm();
  if (!error) return true;
  std::unique_lock lock(mutex_);
  setFailure(std::move(*error), lock);
  return false;
}

void Transmitter::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !queued_.empty() || finishing_; });
    if (!queued_.empty() && !failure_) {
      // Everything queued so far goes in one write: no gaps between the caller's writes.
      std::string chunk;
      chunk.swap(queued_);
      inFlight_ = chunk.size();
      lock.unlock();
      call(texts::Text::DoingWrite, [&] { device_->write(chunk); });
      lock.lock();
      inFlight_ = 0;
      continue;
    }
    queued_.clear();  // after a failure nothing more reaches the device
    if (!finishing_) continue;
    const bool drain = !failure_;
    lock.unlock();
    if (drain) call(texts::Text::DoingDrain, [this] { device_->drain(); });
    // Undrained, the device discards what it still holds, so that closing cannot hang.
    call(texts::Text::DoingClose, [this] {
      const std::lock_guard closing(deviceMutex_);
      device_.reset();
    });
    lock.lock();
    done_ = true;
    released_.notify_all();
    return;
  }
}

void Transmitter::setFailure(SerialError error, std::unique_lock<std::mutex>& lock) {
  if (failure_) return;  // the first failure is the one to report
  failure_ = std::move(error);
  if (onFailure_) {
    lock.unlock();
    onFailure_();
    lock.lock();
  }
}

void Transmitter::stall(const std::string& operation) {
  std::unique_lock lock(mutex_);
  if (done_) return;
  stalled_ = true;
  released_.notify_all();
  setFailure(stallError_(operation), lock);
}

}  // namespace serial::internal
