#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <memory>
#include <string>
#include <string_view>

#include "app/error_report.h"
#include "tests/e2e/target.h"

namespace e2e {

// Where the button is, in the window's own area: what a user sees, measured, not computed.
inline constexpr int kClientWidth = 312;
inline constexpr int kClientHeight = 206;
inline constexpr Box kButton{32, 16, 241, 121};
inline constexpr int kButtonCenterX = kButton.x + kButton.width / 2;
inline constexpr int kButtonCenterY = kButton.y + kButton.height / 2;

enum class Activation { Click, Space, Enter };

// What the line gave after Project1::fillLine and a click: the filler, then the whole receipt.
::testing::AssertionResult fillerThenGoldenJob(std::string_view came, std::size_t filled);

// One run of the real program per test, against the executable's target.
class Project1 : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  Target& t() { return target(); }
  // The target's X server, or the test's own one once it has chosen one.
  XSession& x() { return session_ ? *session_ : t().x(); }
  void useSession(XSession& session) { session_ = &session; }
  testing_support::PtyPair& line() { return t().line(); }

  // Starts the program and waits until exactly one visible window "Form1" is there.
  // Fails the test (fatally) when it does not come; returns the window.
  void startWithWindow(Port port, std::string* window, const EnvChanges& env = {});

  void activate(Activation how, const std::string& window);
  void closeWindow(const std::string& window);
  // The program's exit, within a bound; fails the test when it does not end.
  std::optional<ExitStatus> waitForExit();
  // Fails the test unless the program ends, within a bound, with exit code `code`.
  void expectExit(int code);
  // Closes Form1 as a user does (Alt+F4), then expectExit(code).
  void closeAndExpectExit(const std::string& window, int code = 0);

  // Waits for the program's one message box titled Project1: its window in `box`.
  ::testing::AssertionResult errorBoxShown(std::string* box, Ms within = Ms(15000));
  // Answers message box `box` with Enter (its OK), then expectExit(code).
  void answerAndExpectExit(const std::string& box, int code = app::kErrorExitCode);

  // The line held by another program, as the target can hold it; where it cannot, null, and
  // a note that case `name` is left out, with why.
  std::unique_ptr<PortHold> holdPortOrLeaveOut(const std::string& name);

  // Nobody holds the line, it carries the settings the test gave it, and nothing came.
  ::testing::AssertionResult portUntouched();
  // Within a bound: nobody but the test holds the line, and its lock is free.
  ::testing::AssertionResult portReleased();

  // Starts the program, fills the line (fillLine) and clicks once: the receipt waits in the
  // program for the line. Fails the test (fatally) when the line takes no filler.
  void clickWithTheLineFull(std::string* window, std::size_t* filled);

  // How full: to the last small buffer, so that no write of the program's gets in; or in
  // whole blocks, so that a reader makes room again within a few seconds.
  enum class Fill { Everything, Blocks };
  // Writes filler ('z') into the line from our side until it takes no more, so that the
  // program's bytes wait; returns how many went in. They come out first when the test reads.
  std::size_t fillLine(Fill how = Fill::Everything);

  std::unique_ptr<Process> program_;
  double windowAfter_ = 0;  // seconds from the start to the window on the screen
  termios settings_{};      // what the line was set to before the program started
  dev_t lineDevice_ = 0;
  bool ready_ = false;  // set up: the line and the X server are there
  XSession* session_ = nullptr;
};

}  // namespace e2e
