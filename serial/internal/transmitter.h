#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "serial/device.h"
#include "serial/internal/watchdog.h"
#include "serial/internal/worker.h"
#include "serial/serial_error.h"
#include "texts/texts.h"

namespace serial::internal {

// The transmit queue of one open session, emptied into the device on the worker's thread,
// so that queuing returns at once and closing does not wait for the line.
// finish() hands the device over: the worker writes what is queued, drains, then releases it.
class Transmitter {
 public:
  // Makes the error for a device call that never came back, from the call's name.
  using StallError = std::function<SerialError(const std::string& operation)>;

  // `onFailure` runs on the worker's or the watchdog's thread when the device first fails.
  // The worker serves one session at a time: a session waits there until the one before it
  // has finished.
  Transmitter(Worker& worker, Watchdog& watchdog, std::unique_ptr<Device> device,
              std::size_t capacity, std::function<void()> onFailure, StallError stallError);
  // Finishes and waits. Never destroy a stalled transmitter: its worker may still be in it.
  ~Transmitter();
  Transmitter(const Transmitter&) = delete;
  Transmitter& operator=(const Transmitter&) = delete;

  // False when the bytes do not fit beside what is still queued; nothing is queued then.
  bool queue(std::string_view bytes);

  // The first error the device raised; once set, nothing more is written.
  std::optional<SerialError> failure() const;

  // No more bytes will come: drain and release the device in the background.
  void finish();

  // Waits until the device has been released, or a device call has stalled.
  void join();

  // Bytes queued in this session, and how many of them the device has taken so far.
  std::size_t queuedTotal() const;
  std::size_t taken() const { return progress_.taken(); }

  // The program ends at once: the device, unless it is being closed, lets go of what would
  // outlive the process; returns how many written bytes it discarded. Never waits.
  std::size_t abandon();

  // A device call went without progress for the watchdog's limit and has not come back: the
  // worker is stuck in it, perhaps for ever.
  bool stalled() const;

 private:
  void run();
  // One device call, watched for a stall; false when it raised (the failure is then set).
  bool call(texts::Text operation, const std::function<void()>& body);
  void setFailure(SerialError error, std::unique_lock<std::mutex>& lock);
  void stall(const std::string& operation);

  Watchdog& watchdog_;
  std::mutex deviceMutex_;  // held while the device is destroyed, which may hang
  std::unique_ptr<Device> device_;
  const std::size_t capacity_;
  std::function<void()> onFailure_;
  StallError stallError_;
  Progress progress_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;      // for the worker: bytes queued, or finishing
  std::condition_variable released_;  // for join()
  std::string queued_;
  std::size_t inFlight_ = 0;
  std::size_t queuedTotal_ = 0;
  bool finishing_ = false;
  bool done_ = false;     // the device has been released
  bool stalled_ = false;  // a device call never came back
  std::optional<SerialError> failure_;
};

}  // namespace serial::internal
