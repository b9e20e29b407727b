#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "receipt/print_run.h"
#include "receipt/test_receipt.h"
#include "serial/serial_error.h"

namespace {

// Records what the run asks of the control; can raise an error at a chosen step.
class RecordingControl : public serial::SerialControl {
 public:
  std::vector<std::string> calls;
  std::optional<std::size_t> failAtCall;  // 0 = the open

  void setPortOpen(bool open) override {
    step(open ? "open" : "close");
    open_ = open;
  }
  bool portOpen() const override { return open_; }
  void setOutput(std::u16string_view text) override {
    step("write " + std::to_string(text.size()));
    written.emplace_back(text);
  }
  std::vector<std::u16string> written;

 private:
  void step(std::string what) {
    if (failAtCall && calls.size() == *failAtCall) {
      throw serial::SerialError(serial::ErrorCode::WriteFailed, "refused");
    }
    calls.push_back(std::move(what));
  }
  bool open_ = false;
};

TEST(PrintRun, OpensWritesTheSixteenTextsInOrderAndCloses) {
  RecordingControl control;
  receipt::runPrintTest(control);
  ASSERT_EQ(control.calls.size(), 18u);
  EXPECT_EQ(control.calls.front(), "open");
  EXPECT_EQ(control.calls.back(), "close");
  EXPECT_FALSE(control.portOpen());
  ASSERT_EQ(control.written.size(), 16u);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(control.written[i], receipt::TestReceipt()[i]);
}

TEST(PrintRun, AnErrorStopsTheRunWhereItHappensAndLeavesThePortAsItIs) {
  for (std::size_t failAt : {0u, 1u, 8u, 16u, 17u}) {
    SCOPED_TRACE("error at call " + std::to_string(failAt));
    RecordingControl control;
    control.failAtCall = failAt;
    EXPECT_THROW(receipt::runPrintTest(control), serial::SerialError);
    EXPECT_EQ(control.calls.size(), failAt);    // nothing after the failing call
    EXPECT_EQ(control.portOpen(), failAt > 0);  // opened, and not closed by the run
    EXPECT_EQ(control.written.size(), failAt == 0 ? 0 : std::min<std::size_t>(failAt - 1, 16));
  }
}

}  // namespace
