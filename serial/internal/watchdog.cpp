#include "serial/internal/watchdog.h"

// A wedged USB adapter can block a device call for ever, and the window must still hear of it:
// this thread notices, while the call's own thread stays stuck.
namespace serial::internal {

Watchdog::Watchdog(std::chrono::milliseconds limit) : limit_(limit), thread_([this] { run(); }) {}

Watchdog::~Watchdog() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void Watchdog::arm(const Progress& progress, std::function<void()> onStall) {
  {
    std::lock_guard lock(mutex_);
    progress_ = &progress;
    onStall_ = std::move(onStall);
  }
  changed_.notify_all();
}

void Watchdog::disarm() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !firing_; });
  progress_ = nullptr;
  onStall_ = nullptr;
}

void Watchdog::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (!progress_) {
      changed_.wait(lock);
      continue;
    }
    const auto due = progress_->last() + limit_;
    if (Progress::Clock::now() < due) {
      // Progress moves the deadline on without telling us: look again when it is due.
      changed_.wait_until(lock, due);
      continue;
    }
    auto onStall = std::move(onStall_);
    progress_ = nullptr;
    firing_ = true;
    lock.unlock();
    if (onStall) onStall();
    lock.lock();
    firing_ = false;
    changed_.notify_all();
  }
}

}  // namespace serial::internal
