#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "serial/device.h"
#include "serial/serial_control.h"
#include "serial/serial_error.h"
#include "serial/settings.h"

namespace serial {

namespace internal {
class Transmitter;
class Watchdog;
class Worker;
}  // namespace internal

// The serial control: stored settings, and the port opened, written and closed through
// PortOpen and Output. Output converts text to Big5 and queues it; closing returns at once
// while the queued bytes still go out, and the device is released only after they have.
class MSComm final : public SerialControl {
 public:
  explicit MSComm(Settings settings = {}, DeviceOpener opener = openDevice);
  ~MSComm() override;  // as finish(): an open or closing port drains (bounded), then is released

  MSComm(const MSComm&) = delete;
  MSComm& operator=(const MSComm&) = delete;

  void setPortOpen(bool open) override;
  bool portOpen() const override { return open_ != nullptr; }
  void setOutput(std::u16string_view text) override;

  const Settings& settings() const { return settings_; }

  // Bytes can fail after the Output that queued them has returned, even after the port was
  // closed. `listener` then runs on the transmitter's thread: it should only hand over to the
  // window's thread, which calls takeFailure() to learn what happened.
  void setFailureListener(std::function<void()> listener) { listener_ = std::move(listener); }
  std::optional<SerialError> takeFailure();

  // The last session's bytes: what the port open now, or the one closed last and not yet
  // released, was given, and how many of them its device has not taken. Nothing once the device
  // has been released. Safe from any thread; never waits for the device.
  struct Backlog {
    std::size_t queued = 0;
    std::size_t unsent = 0;
  };
  std::optional<Backlog> backlog() const;

  // The program ends now, from any thread, without waiting for what is queued or for a device
  // call: the devices let go of what would outlive the process (a port left exclusive) and
  // discard what they still hold. Returns how many written bytes were discarded so.
  std::size_t abandon();

  // For the program's end: closes the port if open and waits until the queued bytes have gone
  // or the line has stood still for the stall limit; returns the error of any that could not be
  // sent and was not yet taken.
  std::optional<SerialError> finish();

 private:
  [[noreturn]] void fail(ErrorCode code, const std::string& operation,
                         const std::string& reason) const;
  SerialError stallError(const std::string& operation) const;
  // Waits for a closed session to let go of the device and returns its failure. A session
  // stuck in a device call is left to its thread, which is given up with it.
  std::optional<SerialError> settle(std::unique_ptr<internal::Transmitter>& session);

  Settings settings_;
  DeviceOpener opener_;
  std::function<void()> listener_;                // outlives the transmitters that call it
  std::unique_ptr<internal::Watchdog> watchdog_;  // outlives the sessions it watches
  std::unique_ptr<internal::Worker> worker_;      // outlives the sessions it serves
  mutable std::mutex sessions_;                   // for backlog(): held while the two below change
  std::unique_ptr<internal::Transmitter> open_;   // the session PortOpen = True started
  std::unique_ptr<internal::Transmitter> closing_;  // a closed session still draining
};

}  // namespace serial
