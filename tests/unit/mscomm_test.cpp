#include <gtest/gtest.h>

#include <thread>

#include "receipt/print_run.h"
#include "serial/mscomm.h"
#include "tests/golden/golden_job.h"
#include "tests/support/failures.h"
#include "tests/support/stand_in_device.h"

namespace {

using namespace std::chrono_literals;
using serial::ErrorCode;
using serial::MSComm;
using serial::SerialError;
using testing_support::errorOf;
using testing_support::FailureHeard;
using testing_support::goldenJob;
using testing_support::kReceiptBytes;
using testing_support::Line;
using testing_support::standInOpener;
using testing_support::toHex;

TEST(MSComm, StoredSettingsAreTheWindowsAndThePortStartsClosed) {
  auto line = std::make_shared<Line>();
  MSComm comm({}, standInOpener(line));
  const auto& s = comm.settings();
  EXPECT_EQ(s.port, 1);
  EXPECT_EQ(s.baud, 9600u);
  EXPECT_EQ(s.parity, serial::Parity::None);
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.stopBits, 1);
  EXPECT_EQ(s.handshaking, serial::Handshaking::None);
  EXPECT_TRUE(s.dtrEnable);
  EXPECT_FALSE(s.rtsEnable);
  EXPECT_EQ(s.inBufferSize, 1024u);
  EXPECT_EQ(s.outBufferSize, 512u);
  EXPECT_EQ(s.parityReplace, '?');
  EXPECT_FALSE(comm.portOpen());
  EXPECT_EQ(line->opens, 0);
}

TEST(MSComm, ClosingReturnsAtOnceAndEveryQueuedByteStillArrives) {
  auto line = std::make_shared<Line>();
  line->perByte = 1042us;  // 9600 baud
  {
    MSComm comm({}, standInOpener(line));
    receipt::runPrintTest(comm);
    EXPECT_FALSE(comm.portOpen());
    // The line needs 278 ms; the run is back long before, with the device still held.
    EXPECT_LT(line->received().size(), kReceiptBytes);
    EXPECT_EQ(line->released(), 0);
  }  // the window goes away right after the click
  EXPECT_EQ(toHex(line->received()), toHex(goldenJob()));
  EXPECT_EQ(line->released(), 1);
}

TEST(MSComm, ReopeningWaitsForThePreviousReceiptToDrain) {
  auto line = std::make_shared<Line>();
  line->perByte = 200us;
  MSComm comm({}, standInOpener(line));
  for (int click = 0; click < 3; ++click) receipt::runPrintTest(comm);
  comm.setPortOpen(true);
  EXPECT_TRUE(line->releasedBeforeLastOpen);
  EXPECT_EQ(line->received(), goldenJob() + goldenJob() + goldenJob());
}

TEST(MSComm, RefusesWhatItCannotDoWithClearErrors) {
  auto line = std::make_shared<Line>();
  MSComm comm({}, standInOpener(line));
  EXPECT_EQ(errorOf([&] { comm.setOutput(u"x"); }).code(), ErrorCode::PortNotOpen);
  comm.setPortOpen(false);  // closing a closed port is harmless
  comm.setPortOpen(true);
  EXPECT_EQ(errorOf([&] { comm.setPortOpen(true); }).code(), ErrorCode::PortAlreadyOpen);
  EXPECT_EQ(errorOf([&] { comm.setOutput(u"總計ก"); }).code(), ErrorCode::NotBig5);
  EXPECT_EQ(errorOf([&] { comm.setOutput(std::u16string(513, u'x')); }).code(),
            ErrorCode::QueueFull);
  comm.setOutput(std::u16string(512, u'y'));  // exactly the queue's size fits
  comm.setPortOpen(false);
  comm.setPortOpen(true);                              // waits for the drain
  EXPECT_EQ(line->received(), std::string(512, 'y'));  // nothing of the refused texts
}

TEST(MSComm, AFailedOpenLeavesThePortClosedAndCanBeRetried) {
  auto line = std::make_shared<Line>();
  MSComm comm({}, standInOpener(line));
  line->openError = ErrorCode::InUse;
  EXPECT_EQ(errorOf([&] { receipt::runPrintTest(comm); }).code(), ErrorCode::InUse);
  EXPECT_FALSE(comm.portOpen());
  line->openError.reset();
  receipt::runPrintTest(comm);
  comm.setPortOpen(true);
  EXPECT_EQ(line->received(), goldenJob());
}

TEST(MSComm, ADeviceThatFailsOrStallsEndsInAnErrorNotAHang) {
  const struct {
    const char* name;
    std::optional<std::size_t> failAfter;
    bool stall;
    ErrorCode expected;
  } cases[] = {
      {"vanishes mid-job", 100, false, ErrorCode::WriteFailed},
      {"vanishes at once", 0, false, ErrorCode::WriteFailed},
      {"stops taking bytes", std::nullopt, true, ErrorCode::WriteTimedOut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto line = std::make_shared<Line>();
    line->failAfter = c.failAfter;
    line->stall = c.stall;
    serial::Settings settings;
    settings.writeTimeout = 50ms;
    MSComm comm(settings, standInOpener(line));
    // The receipt is queued at once, so the failure shows at the next step that can raise:
    // a later write, or the next open.
    const auto code = errorOf([&] {
                        receipt::runPrintTest(comm);
                        comm.setPortOpen(true);
                      }).code();
    EXPECT_EQ(code, c.expected);
    EXPECT_LE(line->received().size(), c.failAfter.value_or(0));
    EXPECT_TRUE(goldenJob().starts_with(line->received()));
  }
}

TEST(MSComm, AFailureWhileTheRunStillWritesStopsTheRun) {
  auto line = std::make_shared<Line>();
  line->failAfter = 0;
  MSComm comm({}, standInOpener(line));
  comm.setPortOpen(true);
  comm.setOutput(u"a");
  // The transmitter meets the failure in the background; a later write then raises it.
  std::optional<ErrorCode> code;
  for (auto until = std::chrono::steady_clock::now() + 2s;
       !code && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(1ms)) {
    try {
      comm.setOutput(u"b");
    } catch (const SerialError& e) {
      code = e.code();
    }
  }
  EXPECT_EQ(code, ErrorCode::WriteFailed);
  EXPECT_TRUE(comm.portOpen());
  EXPECT_EQ(line->received(), "");
}

}  // namespace

namespace {

TEST(MSComm, AFailureAfterTheRunReturnedIsHandedToTheListenerAndTakenOnce) {
  auto line = std::make_shared<Line>();
  line->perByte = 100us;
  line->failAfter = 100;
  FailureHeard heard;
  MSComm comm({}, standInOpener(line));
  comm.setFailureListener(heard.listener());
  EXPECT_FALSE(comm.takeFailure().has_value());
  receipt::runPrintTest(comm);  // returns before the device gives up
  ASSERT_TRUE(heard.wait());
  const auto failure = comm.takeFailure();
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->code(), ErrorCode::WriteFailed);
  EXPECT_EQ(line->released(), 1);
  EXPECT_FALSE(comm.takeFailure().has_value());
  line->failAfter.reset();
  receipt::runPrintTest(comm);  // the port is free again
  EXPECT_EQ(heard.calls(), 1);
}

}  // namespace

namespace {

TEST(MSComm, FinishWaitsForTheLastReceiptAndReportsWhatFailed) {
  const struct {
    std::optional<std::size_t> failAfter;
    bool failure;
  } cases[] = {{std::nullopt, false}, {200, true}};
  for (const auto& c : cases) {
    auto line = std::make_shared<Line>();
    line->perByte = 100us;
    line->failAfter = c.failAfter;
    MSComm comm({}, standInOpener(line));
    receipt::runPrintTest(comm);
    const auto failure = comm.finish();
    EXPECT_EQ(failure.has_value(), c.failure);
    EXPECT_EQ(line->released(), 1);
    EXPECT_EQ(line->received(), goldenJob().substr(0, c.failAfter.value_or(kReceiptBytes)));
  }
}

}  // namespace

namespace {

// Short limits: a device call that makes no progress for about half a second is given up.
serial::Settings quickToGiveUp() {
  serial::Settings settings;
  settings.writeTimeout = 50ms;
  settings.baud = 115200;
  return settings;
}

// A wedged USB adapter can block a call for ever: the window must hear of it, and neither the
// next click nor the program's end may wait for it.
TEST(MSComm, ADeviceCallThatNeverReturnsIsReportedAndNothingWaitsForIt) {
  const struct {
    const char* hangIn;
    const char* operation;  // as the error names it
    bool byFinish;          // the program ends before the failure was reported
    std::size_t sent;       // of the stuck job
  } cases[] = {
      {"write", "write", false, 0},
      {"drain", "drain", false, kReceiptBytes},
      {"release", "close", false, kReceiptBytes},
      {"write", "write", true, 0},
      {"release", "close", true, kReceiptBytes},
  };
  const auto limit = serial::stallLimit(quickToGiveUp());
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.hangIn) + (c.byFinish ? ", then the program ends" : ""));
    auto line = std::make_shared<Line>();
    line->hangIn = c.hangIn;
    FailureHeard heard;
    auto comm = std::make_unique<MSComm>(quickToGiveUp(), standInOpener(line));
    comm->setFailureListener(heard.listener());
    const auto start = std::chrono::steady_clock::now();
    receipt::runPrintTest(*comm);
    // Waiting for the stuck call would take the whole limit; a busy machine takes a fraction.
    EXPECT_LT(std::chrono::steady_clock::now() - start, limit) << "the click waited";

    std::optional<SerialError> failure;
    if (c.byFinish) {
      failure = comm->finish();
    } else {
      ASSERT_TRUE(heard.wait(limit + 2s));
      failure = comm->takeFailure();
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, limit);
    EXPECT_LT(took, limit + 2s);  // the watchdog's own limit, not the default 10.3 s
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->code(), ErrorCode::WriteTimedOut);
    EXPECT_NE(failure->description().find(std::string(c.operation) +
                                          ": the device did not answer for 0.5 s"),
              std::string::npos)
        << failure->description();
    EXPECT_EQ(line->received().size(), c.sent);

    // The control carries on with a device that works, and its end waits for nothing stuck.
    {
      std::lock_guard lock(line->mutex);
      line->hangIn.clear();
    }
    receipt::runPrintTest(*comm);
    EXPECT_FALSE(comm->finish().has_value());
    EXPECT_EQ(line->received().size(), c.sent + kReceiptBytes);
    const auto ending = std::chrono::steady_clock::now();
    comm.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - ending, 100ms);
    EXPECT_EQ(heard.calls(), 1) << "the window is told once";
    line->release();  // the stuck call comes back; what it does then reaches no one
  }
}

// How much of the last receipt the device has not taken: asked from another thread while the
// window's thread waits in finish() for a device call that does not come back.
TEST(MSComm, TheBacklogCountsWhatTheDeviceHasNotTakenAndNeverWaitsForIt) {
  auto line = std::make_shared<Line>();
  line->perByte = 2ms;
  line->hangIn = "write";
  MSComm comm({}, standInOpener(line));
  EXPECT_FALSE(comm.backlog().has_value()) << "nothing opened yet";
  receipt::runPrintTest(comm);
  std::thread finishing([&] { EXPECT_FALSE(comm.finish().has_value()); });
  for (int i = 0; i < 5; ++i) {
    const auto stuck = comm.backlog();
    EXPECT_TRUE(stuck.has_value());
    if (stuck) {
      EXPECT_EQ(stuck->queued, kReceiptBytes);
      EXPECT_EQ(stuck->unsent, kReceiptBytes);
    }
    std::this_thread::sleep_for(10ms);
  }
  line->release();
  // Under way: every byte counted as taken is on the line.
  std::size_t unsent = kReceiptBytes;
  while (unsent == kReceiptBytes) {
    std::this_thread::sleep_for(5ms);
    const auto going = comm.backlog();
    unsent = going ? going->unsent : 0;
  }
  EXPECT_GE(line->received().size(), kReceiptBytes - unsent);
  finishing.join();
  EXPECT_FALSE(comm.backlog().has_value()) << "the device was released";
  EXPECT_EQ(line->received(), goldenJob());
}

TEST(MSComm, ASlowLineThatKeepsMovingIsNeverTakenForAStall) {
  auto line = std::make_shared<Line>();
  const auto settings = quickToGiveUp();
  // The whole job takes twice the stall limit, a byte at a time.
  line->perByte = std::chrono::duration_cast<std::chrono::microseconds>(
      2 * serial::stallLimit(settings) / kReceiptBytes);
  MSComm comm(settings, standInOpener(line));
  receipt::runPrintTest(comm);
  EXPECT_FALSE(comm.finish().has_value());
  EXPECT_EQ(toHex(line->received()), toHex(goldenJob()));
}

TEST(MSComm, TextThatIsNotBig5IsRefusedWholeAndNamesWhatItCan) {
  auto line = std::make_shared<Line>();
  MSComm comm({}, standInOpener(line));
  comm.setPortOpen(true);
  const struct {
    std::u16string text;
    const char* says;
  } cases[] = {
      {u"總計ก", "character 3 (U+0E01) has no Big5 form"},
      {std::u16string(u"ab") + char16_t(0xD800), "has no Big5 form"},  // a lone surrogate
  };
  for (const auto& c : cases) {
    const SerialError e = errorOf([&] { comm.setOutput(c.text); });
    EXPECT_EQ(e.code(), ErrorCode::NotBig5);
    EXPECT_NE(e.description().find(c.says), std::string::npos) << e.description();
  }
  comm.setPortOpen(false);
  EXPECT_FALSE(comm.finish().has_value());
  EXPECT_EQ(line->received(), "");
}

}  // namespace
