#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "serial/device.h"
#include "serial/serial_error.h"

namespace testing_support {

// The SerialError `act` throws. When it throws none: a test failure, and an error numbered 0,
// which no test expects.
inline serial::SerialError errorOf(const std::function<void()>& act) {
  try {
    act();
  } catch (const serial::SerialError& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return {static_cast<serial::ErrorCode>(0), "no error raised"};
}

// The SerialError opening the device at `path` throws; a test failure when it opens.
inline serial::SerialError errorOpening(const std::string& path,
                                        const serial::Settings& settings = {}) {
  SCOPED_TRACE("opening " + path);
  return errorOf([&] { serial::openDeviceAt(path, settings); });
}

// A failure listener (MSComm::setFailureListener, Form1Events::wakeOnLateFailure) that counts
// its calls and lets the test wait for the first. Declare it before what it listens to: the
// listener may be called until that is gone.
class FailureHeard {
 public:
  std::function<void()> listener() {
    return [this] {
      std::lock_guard lock(mutex_);
      ++calls_;
      told_.notify_all();
    };
  }

  // False when the listener was not called within `timeout`.
  bool wait(std::chrono::milliseconds timeout = std::chrono::seconds(2)) {
    std::unique_lock lock(mutex_);
    return told_.wait_for(lock, timeout, [this] { return calls_ > 0; });
  }

  int calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable told_;
  int calls_ = 0;
};

}  // namespace testing_support
