#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "serial/settings.h"

namespace serial::internal {

// How far what a device says it still holds for the line can be trusted.
enum class QueueView {
  Shown,     // what it says is so (a POSIX serial port)
  Hidden,    // it never shows one (a POSIX pseudo-terminal)
  UntilSeen  // it may say 0 while it refuses bytes, until it has once shown a byte (Windows
             // drivers: Wine on a pseudo-terminal, some USB adapters)
};

// Tells a slow line from one that stopped. It has stopped once nothing has been taken and the
// device's output queue has not shrunk for the write timeout; where the queue is out of sight,
// room may come back only in bursts, so for unseenQueueAllowance() more.
class LineWatch {
 public:
  using Clock = std::chrono::steady_clock;
  LineWatch(const Settings& settings, QueueView view, Clock::time_point now);

  // Bytes were taken.
  void taken(Clock::time_point now);
  // What the device says it still holds (nullopt: it cannot say); true when that is less
  // than the last reading since bytes were taken: the line moved.
  bool queued(std::optional<std::size_t> bytes, Clock::time_point now);
  bool stopped(Clock::time_point now) const { return now - last_ >= limit(); }
  // How long the line may stand still, as things look now.
  std::chrono::milliseconds limit() const;
  std::optional<std::size_t> lastQueued() const { return queued_; }
  // Why a line that stopped failed: "nothing sent for 3000 ms (20 bytes still queued)".
  std::string standingStill() const;

 private:
  Settings settings_;
  QueueView view_;
  Clock::time_point last_;
  std::optional<std::size_t> queued_;
  bool queueSeen_ = false;  // the device has shown a queue of at least one byte
};

// Waits until the device's output queue (`queued`) is empty, calling `progressed` whenever it
// shrinks, napping at line speed but never less than `shortestNap`; the reason it gave up on a
// queue that stopped moving, or nullopt.
std::optional<std::string> drainQueue(const Settings& settings, QueueView view,
                                      std::chrono::microseconds shortestNap,
                                      const std::function<std::optional<std::size_t>()>& queued,
                                      const std::function<void()>& progressed);

}  // namespace serial::internal
