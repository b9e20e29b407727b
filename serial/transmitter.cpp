#include "transmitter.h"

namespace serial {

Transmitter::Transmitter(Worker& worker, std::unique_ptr<Device> device, std::size_t capacity,
                         std::function<void()> onFailure)
    : device_(std::move(device)), capacity_(capacity), onFailure_(std::move(onFailure)) {
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
  }
  wake_.notify_one();
  return true;
}

std::optional<SerialError> Transmitter::failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
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
  released_.wait(lock, [this] { return done_; });
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
      std::optional<SerialError> error;
      try {
        device_->write(chunk);
      } catch (const SerialError& e) {
        error = e;
      }
      lock.lock();
      inFlight_ = 0;
      if (error) setFailure(std::move(*error), lock);
      continue;
    }
    queued_.clear();  // after a failure nothing more reaches the device
    if (!finishing_) continue;
    const bool drain = !failure_;
    lock.unlock();
    std::optional<SerialError> error;
    if (drain) {
      try {
        device_->drain();
      } catch (const SerialError& e) {
        error = e;
      }
    }
    device_.reset();
    lock.lock();
    if (error) setFailure(std::move(*error), lock);
    done_ = true;
    released_.notify_all();
    return;
  }
}

void Transmitter::setFailure(SerialError error, std::unique_lock<std::mutex>& lock) {
  failure_ = std::move(error);
  if (onFailure_) {
    lock.unlock();
    onFailure_();
    lock.lock();
  }
}

}  // namespace serial
