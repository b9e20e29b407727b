#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "app/error_report.h"
#include "app/form1_events.h"
#include "serial/device.h"
#include "tests/golden/golden_job.h"
#include "tests/support/failures.h"
#include "tests/support/stand_in_device.h"

namespace {

using namespace std::chrono_literals;
using app::ErrorReport;
using app::Form1Events;
using testing_support::FailureHeard;
using testing_support::goldenJob;
using testing_support::Line;
using testing_support::standInOpener;
using testing_support::toHex;

TEST(ErrorReport, TheBoxHasNumberDescriptionAndEndingAndStderrHasThemOnOneLine) {
  const struct {
    ErrorReport report;
    const char* text;
    const char* line;
  } cases[] = {
      {{8002, "COM1 (/dev/ttyS0): open: No such file or directory (2).", true},
       "Error 8002\n\nCOM1 (/dev/ttyS0): open: No such file or directory (2).\n\n"
       "Nothing was sent to the printer. The program will now end.",
       "Error 8002: COM1 (/dev/ttyS0): open: No such file or directory (2). "
       "Nothing was sent to the printer. The program will now end."},
      {{8021, "COM1 (/dev/ttyS0): write: no progress for 3 s.", false},
       "Error 8021\n\nCOM1 (/dev/ttyS0): write: no progress for 3 s.\n\n"
       "The test receipt may be incomplete. The program will now end.",
       "Error 8021: COM1 (/dev/ttyS0): write: no progress for 3 s. "
       "The test receipt may be incomplete. The program will now end."},
      // A description's own line breaks, single or not, become one space each.
      {{app::kInternalErrorNumber, "Internal error: one\ntwo\n\n\nthree"},
       "Error 51\n\nInternal error: one\ntwo\n\n\nthree\n\n"
       "The test receipt may be incomplete. The program will now end.",
       "Error 51: Internal error: one two three "
       "The test receipt may be incomplete. The program will now end."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report.description);
    EXPECT_EQ(c.report.text(), c.text);
    EXPECT_EQ(c.report.line(), c.line);
  }
}

TEST(ErrorReport, ASerialErrorKeepsItsNumberAndDescriptionAndSaysWhetherAnythingWasSent) {
  using serial::ErrorCode;
  const struct {
    ErrorCode code;
    bool nothingSent;
  } cases[] = {
      {ErrorCode::OpenFailed, true},      {ErrorCode::NoSuchPort, true},
      {ErrorCode::InUse, true},           {ErrorCode::PermissionDenied, true},
      {ErrorCode::NotSerialDevice, true}, {ErrorCode::SettingsRejected, true},
      {ErrorCode::WriteFailed, false},    {ErrorCode::WriteTimedOut, false},
  };
  for (const auto& c : cases) {
    const auto report = app::reportFor(serial::SerialError(c.code, "COM1: what happened."));
    EXPECT_EQ(report.number, static_cast<int>(c.code));
    EXPECT_EQ(report.description, "COM1: what happened.");
    EXPECT_EQ(report.nothingSent, c.nothingSent) << report.number;
  }
}

TEST(Form1Events, AClickThatPrintsEndsNothingAndClosingSeesTheReceiptOut) {
  auto line = std::make_shared<Line>();
  line->perByte = 100us;  // still going out at close
  Form1Events events(standInOpener(line));
  EXPECT_FALSE(events.click().has_value());
  EXPECT_FALSE(events.ended());
  EXPECT_FALSE(events.close().has_value());
  EXPECT_EQ(events.exitCode(), 0);
  EXPECT_EQ(line->released(), 1);
  EXPECT_EQ(toHex(line->received()), toHex(goldenJob()));
}

TEST(Form1Events, AnErrorEndsTheProgramOnceAndEveryLaterEventIsIgnored) {
  const struct {
    const char* name;
    serial::DeviceOpener opener;
    int number;
    std::string description;
  } cases[] = {
      {"the port's error",
       [](const serial::Settings&) -> std::unique_ptr<serial::Device> {
         throw serial::SerialError(serial::ErrorCode::InUse, "COM1: busy.");
       },
       8010, "COM1: busy."},
      {"not the port's doing",
       [](const serial::Settings&) -> std::unique_ptr<serial::Device> {
         throw std::runtime_error("no converter");
       },
       app::kInternalErrorNumber, "Internal error: no converter"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Form1Events events(c.opener);
    const auto report = events.click();
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->number, c.number);
    EXPECT_EQ(report->description, c.description);
    EXPECT_TRUE(events.ended());
    EXPECT_EQ(events.exitCode(), app::kErrorExitCode);
    EXPECT_FALSE(events.click().has_value());
    EXPECT_FALSE(events.lateFailure().has_value());
    EXPECT_FALSE(events.close().has_value());
    EXPECT_FALSE(events.displayLost().has_value());
    EXPECT_EQ(events.exitCode(), app::kErrorExitCode);
  }
}

TEST(Form1Events, BytesThatFailAfterTheClickAreReportedOnceWhenTheWindowAsksOrAtClose) {
  for (const bool asked : {true, false}) {
    SCOPED_TRACE(asked ? "the window asks" : "the window closes");
    auto line = std::make_shared<Line>();
    line->perByte = 100us;
    line->failAfter = 100;
    FailureHeard heard;
    Form1Events events(standInOpener(line));
    events.wakeOnLateFailure(heard.listener());
    EXPECT_FALSE(events.click().has_value());  // returns before the line fails
    ASSERT_TRUE(heard.wait());
    const auto report = asked ? events.lateFailure() : events.close();
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->number, 8020);
    EXPECT_EQ(events.exitCode(), app::kErrorExitCode);
    EXPECT_FALSE(events.lateFailure().has_value());
    EXPECT_FALSE(events.close().has_value());
    EXPECT_EQ(line->received(), goldenJob().substr(0, 100));
  }
}

TEST(Form1Events, ALostDisplaySeesTheReceiptOutAndSaysHowThatWent) {
  const struct {
    const char* name;
    std::optional<std::size_t> failAfter;
    std::optional<std::string> said;
    bool click;
    bool shown;  // the failure was reported before the display went
  } cases[] = {
      {"nothing printed", std::nullopt, std::nullopt, false, false},
      {"printed in full", std::nullopt,
       "every receipt queued before the display was lost went out in full", true, false},
      {"failed on the way", 200, "Error 8020: ", true, false},
      {"failed and already shown", 200, std::nullopt, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<Line>();
    line->perByte = 100us;  // still going out when the display goes
    line->failAfter = c.failAfter;
    FailureHeard heard;
    Form1Events events(standInOpener(line));
    events.wakeOnLateFailure(heard.listener());
    if (c.click) {
      EXPECT_FALSE(events.click().has_value());
    }
    if (c.shown) {
      ASSERT_TRUE(heard.wait());
      ASSERT_TRUE(events.lateFailure().has_value());
    }
    const auto said = events.displayLost();
    ASSERT_EQ(said.has_value(), c.said.has_value());
    if (said) {
      EXPECT_EQ(said->rfind(*c.said, 0), 0u) << *said;
    }
    EXPECT_EQ(line->released(), line->opens);
    if (c.click) {
      EXPECT_EQ(line->received(),
                goldenJob().substr(0, c.failAfter.value_or(testing_support::kReceiptBytes)));
    }
  }
}

}  // namespace

namespace {

// A program stopped while its last receipt drains says what did not go out; asked from another
// thread while the device is stuck.
TEST(Form1Events, StoppedSaysHowMuchOfTheLastReceiptDidNotGoOut) {
  const std::string port = serial::devicePath(1);  // /dev/ttyS0, or \\.\COM1
  const struct {
    const char* name;
    bool click;
    const char* hangIn;
    std::size_t taken;  // by the device when it is asked
    std::size_t held;   // of those, still in a real port's queue, discarded on the way out
    std::string said;
  } cases[] = {
      {"nothing printed", false, "", 0, 0, "stopped with nothing left to send to " + port},
      {"the line takes nothing", true, "write", 0, 0,
       "stopped before the receipt was sent: 267 of 267 bytes not sent to " + port},
      {"all written, still draining", true, "drain", 267, 0,
       "stopped while the receipt drained: all 267 bytes were written to " + port +
           ", the last may not have reached the printer"},
      {"a stalled port held the tail", true, "drain", 267, 40,
       "stopped before the receipt was sent: 40 of 267 bytes not sent to " + port},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<Line>();
    line->hangIn = c.hangIn;
    line->heldOnAbandon = c.held;
    Form1Events events(standInOpener(line));
    if (c.click) {
      EXPECT_FALSE(events.click().has_value());
    }
    const auto start = std::chrono::steady_clock::now();
    while (line->received().size() < c.taken && std::chrono::steady_clock::now() - start < 5s) {
      std::this_thread::sleep_for(1ms);
    }
    std::string said;
    std::thread asking([&] { said = events.stopNow(); });
    asking.join();
    EXPECT_EQ(said, c.said);
    line->release();
  }
}

}  // namespace
