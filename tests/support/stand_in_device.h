#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/device.h"
#include "serial/serial_error.h"

namespace testing_support {

// What a stand-in device saw, shared with the test: the line at the far end of the port.
struct Line {
  std::mutex mutex;
  std::condition_variable changed;
  std::string bytes;
  int opens = 0;
  int releases = 0;
  bool releasedBeforeLastOpen = true;
  std::vector<std::chrono::steady_clock::time_point> byteTimes;

  // How the device behaves.
  std::chrono::microseconds perByte{0};  // paced like a real line
  std::optional<std::size_t> failAfter;  // vanishes after this many bytes
  bool stall = false;                    // stops taking bytes
  std::size_t heldOnAbandon = 0;         // written but still in the port when the program ends
  std::optional<serial::ErrorCode> openError;
  // A call that does not return until the test lets go: "write", "drain" or "release".
  std::string hangIn;
  bool letGo = false;

  void hangHere(std::unique_lock<std::mutex>& lock, const char* call) {
    if (hangIn != call) return;
    changed.wait(lock, [this] { return letGo; });
  }
  void release() {
    std::lock_guard lock(mutex);
    letGo = true;
    changed.notify_all();
  }

  std::string received() {
    std::lock_guard lock(mutex);
    return bytes;
  }
  int released() {
    std::lock_guard lock(mutex);
    return releases;
  }
};

class StandInDevice : public serial::Device {
 public:
  StandInDevice(std::shared_ptr<Line> line, serial::Settings settings)
      : line_(std::move(line)), settings_(std::move(settings)) {}
  ~StandInDevice() override {
    std::unique_lock lock(line_->mutex);
    line_->hangHere(lock, "release");
    ++line_->releases;
    line_->changed.notify_all();
  }

  void write(std::string_view bytes) override {
    // Paced on a schedule: within one write the bytes leave back to back; a gap appears only
    // when the next write comes late. Times are the schedule's, free of sleep overshoot.
    next_ = std::max(next_, std::chrono::steady_clock::now());
    {
      std::unique_lock lock(line_->mutex);
      line_->hangHere(lock, "write");
    }
    for (char c : bytes) {
      if (line_->perByte.count() > 0) {
        next_ += line_->perByte;
        std::this_thread::sleep_until(next_);
      }
      std::lock_guard lock(line_->mutex);
      if (line_->stall) {
        // A bounded wait, as the real devices do, then the timeout error.
        std::this_thread::sleep_for(settings_.writeTimeout);
        throw serial::SerialError(serial::ErrorCode::WriteTimedOut,
                                  "COM1 (stand-in): write timed out");
      }
      if (line_->failAfter && line_->bytes.size() >= *line_->failAfter) {
        throw serial::SerialError(serial::ErrorCode::WriteFailed,
                                  "COM1 (stand-in): write: Input/output error");
      }
      line_->bytes.push_back(c);
      line_->byteTimes.push_back(line_->perByte.count() > 0 ? next_
                                                            : std::chrono::steady_clock::now());
      line_->changed.notify_all();
      took(1);
    }
  }
  void drain() override {
    std::unique_lock lock(line_->mutex);
    line_->hangHere(lock, "drain");
  }
  std::size_t abandon() noexcept override {
    std::lock_guard lock(line_->mutex);
    return line_->heldOnAbandon;
  }

 private:
  std::shared_ptr<Line> line_;
  serial::Settings settings_;
  std::chrono::steady_clock::time_point next_{};
};

// An opener that hands out stand-in devices on `line`.
inline serial::DeviceOpener standInOpener(std::shared_ptr<Line> line) {
  return [line](const serial::Settings& settings) -> std::unique_ptr<serial::Device> {
    std::lock_guard lock(line->mutex);
    if (line->openError)
      throw serial::SerialError(*line->openError, "COM1 (stand-in): open failed");
    line->releasedBeforeLastOpen = line->releases == line->opens;
    ++line->opens;
    return std::make_unique<StandInDevice>(line, settings);
  };
}

}  // namespace testing_support
