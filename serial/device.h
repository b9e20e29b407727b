#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "serial/settings.h"

namespace serial {

// When a device last moved bytes on, and how many it has taken; read from any thread.
class Progress {
 public:
  using Clock = std::chrono::steady_clock;
  Progress() { mark(); }
  void mark() noexcept { at_.store(Clock::now().time_since_epoch().count()); }
  void took(std::size_t bytes) noexcept {
    taken_.fetch_add(bytes);
    mark();
  }
  Clock::time_point last() const noexcept { return Clock::time_point(Clock::duration(at_.load())); }
  std::size_t taken() const noexcept { return taken_.load(); }

 private:
  std::atomic<Clock::rep> at_{0};
  std::atomic<std::size_t> taken_{0};
};

// One open serial device, held exclusively with the line settings applied.
// Destroying it releases the device; call drain() first to keep queued output. After a write
// or drain that failed, destroying it discards what could not be sent, so that it cannot hang.
class Device {
 public:
  virtual ~Device() = default;

  // Where write() and drain() report progress; set before either is called.
  void watch(Progress* progress) { progress_ = progress; }

  // Writes every byte, in order, or throws SerialError (WriteFailed, WriteTimedOut).
  virtual void write(std::string_view bytes) = 0;

  // Returns once the written bytes have left the device, or throws after a bounded wait.
  virtual void drain() = 0;

  // The program is about to end at once, from another thread, perhaps while write() or drain()
  // runs: undoes what the system would keep after the process has gone, and discards what the
  // device still holds, which the last close would otherwise wait for. Must not wait. Returns
  // how many written bytes were discarded so, never to leave the port.
  virtual std::size_t abandon() noexcept { return 0; }

 protected:
  // The device's output queue shrank.
  void progressed() {
    if (progress_) progress_->mark();
  }
  // `bytes` of a write were taken.
  void took(std::size_t bytes) {
    if (progress_) progress_->took(bytes);
  }

 private:
  Progress* progress_ = nullptr;
};

using DeviceOpener = std::function<std::unique_ptr<Device>(const Settings&)>;

// The platform's device for the settings' port; throws SerialError.
std::unique_ptr<Device> openDevice(const Settings& settings);

// The platform's device at `path` (UTF-8), opened as openDevice() opens the port, for the tests
// and benchmarks to hand it a pseudo-terminal; throws SerialError.
std::unique_ptr<Device> openDeviceAt(const std::string& path, const Settings& settings);

// The platform's name for the port's device: "/dev/ttyS0", "\\.\COM1".
std::string devicePath(int port);

}  // namespace serial
