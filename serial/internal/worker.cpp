#include "serial/internal/worker.h"

// One thread for the control's life: starting a thread for every opened port costs more than
// the rest of a click (a millisecond under Wine).
namespace serial::internal {

Worker::Worker() : thread_([this] { run(); }) {}

Worker::~Worker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void Worker::post(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void Worker::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
    if (jobs_.empty()) return;
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

}  // namespace serial::internal
