#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "serial/device.h"

namespace serial::internal {

// Notices a device call that goes without progress for too long. One thread for the life of
// the serial control; it watches one call at a time.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::milliseconds limit);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Watches from now until disarm(): if `progress` stands still for the limit, `onStall` runs
  // once, on the watchdog's thread.
  void arm(const Progress& progress, std::function<void()> onStall);
  // Stops watching; once it returns, `onStall` is not running and will not run.
  void disarm();

  std::chrono::milliseconds limit() const { return limit_; }

 private:
  void run();

  const std::chrono::milliseconds limit_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const Progress* progress_ = nullptr;
  std::function<void()> onStall_;
  bool firing_ = false;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace serial::internal
