#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace serial::internal {

// One thread that runs jobs in turn, for as long as the serial control lives.
class Worker {
 public:
  Worker();
  ~Worker();  // runs what was posted, then ends
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void post(std::function<void()> job);

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace serial::internal
