#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/error_report.h"
#include "serial/device.h"
#include "serial/mscomm.h"

namespace app {

// What Form1's events do, whichever toolkit delivers them: an event that returns a report has
// ended the program (the window shows it, closes, and exits with exitCode()), and after that
// first report every event is ignored.
class Form1Events {
 public:
  explicit Form1Events(serial::DeviceOpener opener = serial::openDevice);

  const serial::MSComm& MSComm1() const { return MSComm1_; }

  // Command1_Click: one print test. Errors are not handled in it; they end the click where
  // they happen and come back as the report.
  std::optional<ErrorReport> click();

  // Has `wake` run, on the serial control's thread, when bytes fail after the click that queued
  // them returned: it should only make the window's thread call lateFailure(). Set before a click.
  void wakeOnLateFailure(std::function<void()> wake);

  // The window's thread was woken for a late failure: the report of it, once.
  std::optional<ErrorReport> lateFailure();

  // The window closed, or was told to, without an error: the receipt may still be going out,
  // and may still fail.
  std::optional<ErrorReport> close();

  // The display is gone and nothing can be shown: what was queued still goes out (bounded).
  // Returns the line that tells stderr how that went, when there is something to tell.
  std::optional<std::string> displayLost() noexcept;

  // A request to end came again while the last receipt drains, and the program stops at once:
  // lets the port go as far as that needs no wait, and returns the line that tells stderr what
  // did not go out. Safe from any thread; never waits for the device.
  std::string stopNow();

  bool ended() const { return ended_; }
  int exitCode() const { return ended_ ? kErrorExitCode : 0; }

 private:
  std::optional<ErrorReport> end(ErrorReport report);

  serial::MSComm MSComm1_;
  bool ended_ = false;
  bool printed_ = false;  // a click queued a receipt
};

}  // namespace app
