#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "app/error_report.h"
#include "app/form1_events.h"
#include "serial/device.h"
#include "serial/mscomm.h"

namespace app {

// The message box's body, as Windows takes it.
std::wstring reportText(const ErrorReport& report);

// Shows a report modally over `owner`; the program ends once it returns.
using Alert = std::function<void(HWND owner, const std::wstring& text)>;
void showErrorBox(HWND owner, const std::wstring& text);

// The window with its button Command1 and its serial control MSComm1 (port closed).
// Tests hand it a stand-in device opener and their own alert.
class Form1 {
 public:
  static constexpr int kCommand1Id = 101;
  static constexpr UINT kLateFailureMessage = WM_APP + 1;

  explicit Form1(serial::DeviceOpener opener = serial::openDevice, Alert alert = showErrorBox);
  ~Form1();
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Shows the window with Command1 focused.
  void show(int showCommand);

  // Routes one queued message as the event loop does: Space and Enter reach Command1.
  void dispatch(MSG& msg);

  // Runs the event loop until the window is gone, or until WM_QUIT or a failed GetMessage,
  // which end it as closing the window does; returns the exit code.
  int run();

  HWND window() const { return window_; }
  HWND command1() const { return command1_; }
  int dpi() const { return dpi_; }
  const serial::MSComm& MSComm1() const { return events_.MSComm1(); }

  // Set once the window is gone: 0 when closed, kErrorExitCode after an error.
  std::optional<int> exitCode() const { return exitCode_; }

 private:
  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void applyDpi(int dpi, const RECT* suggested);
  void end(const std::optional<ErrorReport>& report);

  struct FontDeleter {
    void operator()(HFONT font) const { ::DeleteObject(font); }
  };

  Form1Events events_;  // with MSComm1, first in, last out: the port outlives the window
  Alert alert_;
  HWND window_ = nullptr;
  HWND command1_ = nullptr;
  std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter> font_;
  int dpi_ = 96;
  std::optional<int> exitCode_;
  std::optional<int> quitCode_;  // WM_QUIT's, or kErrorExitCode when GetMessage failed
};

}  // namespace app
