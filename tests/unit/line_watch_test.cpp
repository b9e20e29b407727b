#include "serial/internal/line_watch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using serial::internal::LineWatch;
using serial::internal::QueueView;

// When a line counts as stopped: by what it takes and what the device says it holds.
TEST(LineWatch, ALineHasStoppedOnlyOnceNothingMovedForTheTimeoutOrLongerWhereNoQueueShows) {
  const serial::Settings settings{};  // 3 s, and 4.27 s more for a queue out of sight
  const auto unseen = settings.writeTimeout + serial::unseenQueueAllowance(settings);
  ASSERT_EQ(unseen, 7267ms);
  const auto t0 = LineWatch::Clock::time_point{} + 1h;
  struct Step {
    std::chrono::milliseconds at;
    enum { Taken, Queued } what;
    std::optional<std::size_t> queued = std::nullopt;
    bool moved = false;  // what queued() says
  };
  const struct {
    const char* name;
    QueueView view;
    std::vector<Step> steps;
    std::chrono::milliseconds stoppedAt;  // since the last step
  } cases[] = {
      {"nothing taken, a queue that shows",
       QueueView::UntilSeen,
       {{0ms, Step::Queued, 512}, {200ms, Step::Queued, 512}},
       settings.writeTimeout - 200ms},
      {"nothing taken, a queue that always says 0 (Wine on a pty)",
       QueueView::UntilSeen,
       {{0ms, Step::Queued, 0}, {200ms, Step::Queued, 0}},
       unseen - 200ms},
      {"nothing taken, no queue to be had", QueueView::UntilSeen, {{0ms, Step::Queued}}, unseen},
      {"a queue that shrinks is a line that moves",
       QueueView::UntilSeen,
       {{0ms, Step::Queued, 512}, {2900ms, Step::Queued, 500, true}},
       settings.writeTimeout},
      {"a queue that grows is not",
       QueueView::UntilSeen,
       {{0ms, Step::Queued, 500}, {2900ms, Step::Queued, 512}},
       100ms},
      {"bytes taken, in bursts seconds apart",
       QueueView::UntilSeen,
       {{0ms, Step::Queued, 0}, {4000ms, Step::Taken}, {9000ms, Step::Taken}},
       unseen},
      {"after bytes were taken the queue's next reading is only a start",
       QueueView::UntilSeen,
       {{0ms, Step::Queued, 100},
        {1000ms, Step::Taken},
        {1100ms, Step::Queued, 400},
        {1200ms, Step::Queued, 300, true}},
       settings.writeTimeout},
      // A serial port's kernel queue is the truth, empty or not.
      {"a port that shows its queue, empty",
       QueueView::Shown,
       {{0ms, Step::Queued, 0}, {200ms, Step::Queued, 0}},
       settings.writeTimeout - 200ms},
      {"a port that shows its queue, shrinking",
       QueueView::Shown,
       {{0ms, Step::Queued, 512}, {2900ms, Step::Queued, 500, true}},
       settings.writeTimeout},
      // A pseudo-terminal frees room in bursts whatever it says.
      {"a queue always out of sight, though it shows bytes",
       QueueView::Hidden,
       {{0ms, Step::Queued, 512}, {200ms, Step::Queued, 512}},
       unseen - 200ms},
      {"a queue always out of sight, bytes taken in bursts",
       QueueView::Hidden,
       {{0ms, Step::Taken}, {5000ms, Step::Taken}},
       unseen},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LineWatch watch(settings, c.view, t0);
    for (const Step& step : c.steps) {
      if (step.what == Step::Taken) {
        watch.taken(t0 + step.at);
      } else {
        EXPECT_EQ(watch.queued(step.queued, t0 + step.at), step.moved) << step.at.count();
      }
      EXPECT_FALSE(watch.stopped(t0 + step.at));
    }
    const auto last = t0 + c.steps.back().at;
    EXPECT_FALSE(watch.stopped(last + c.stoppedAt - 1ms));
    EXPECT_TRUE(watch.stopped(last + c.stoppedAt));
  }
}

TEST(LineWatch, AStoppedLineSaysHowLongItWaitedAndWhatIsStillQueued) {
  serial::Settings settings;
  settings.writeTimeout = 300ms;
  const auto t0 = LineWatch::Clock::time_point{} + 1h;
  const struct {
    QueueView view;
    std::optional<std::size_t> queued;
    std::string says;
  } cases[] = {
      {QueueView::Shown, 20, "nothing sent for 300 ms (20 bytes still queued)"},
      {QueueView::Shown, 0, "nothing sent for 300 ms"},
      {QueueView::Shown, std::nullopt, "nothing sent for 300 ms"},
      {QueueView::Hidden, std::nullopt,
       "nothing sent for " +
           std::to_string(
               (settings.writeTimeout + serial::unseenQueueAllowance(settings)).count()) +
           " ms"},
  };
  for (const auto& c : cases) {
    LineWatch watch(settings, c.view, t0);
    (void)watch.queued(c.queued, t0);
    EXPECT_EQ(watch.standingStill(), c.says);
  }
}

// The drain waits for the device's queue as long as it moves, and no longer.
TEST(Drain, WaitsWhileTheQueueMovesAndGivesUpOnOneThatStandsStill) {
  using Clock = std::chrono::steady_clock;
  serial::Settings settings;
  settings.writeTimeout = 300ms;
  const struct {
    const char* name;
    std::vector<std::size_t> readings;  // the last one repeats for ever
    bool unseen;                        // the device cannot say
    bool gaveUp;
    int progress;
  } cases[] = {
      {"empty", {0}, false, false, 0},
      {"a queue the device cannot show", {}, true, false, 0},
      // 20 readings about 20 ms apart: longer than the timeout, but never still for it.
      {"a slow queue that keeps moving",
       {40, 38, 36, 34, 32, 30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0},
       false,
       false,
       20},
      {"a queue that stops moving", {40, 30, 20}, false, true, 2},
  };
  // Both platforms' views of a queue that shows bytes: the timeout alone decides.
  for (const QueueView view : {QueueView::Shown, QueueView::UntilSeen}) {
    SCOPED_TRACE(view == QueueView::Shown ? "shown" : "until seen");
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      std::size_t at = 0;
      int progress = 0;
      Clock::time_point lastMove = Clock::now();
      const auto started = Clock::now();
      const auto reason = serial::internal::drainQueue(
          settings, view, 1ms,
          [&]() -> std::optional<std::size_t> {
            if (c.unseen) return std::nullopt;
            const std::size_t now = c.readings[std::min(at, c.readings.size() - 1)];
            ++at;
            // Slow enough that the whole drain outlasts the timeout.
            if (now > 0 && now < 40 && c.readings.back() == 0) std::this_thread::sleep_for(20ms);
            return now;
          },
          [&] {
            ++progress;
            lastMove = Clock::now();
          });
      const auto took = Clock::now() - started;
      EXPECT_EQ(reason.has_value(), c.gaveUp) << reason.value_or("");
      EXPECT_EQ(progress, c.progress);
      if (c.gaveUp) {
        EXPECT_NE(reason->find("nothing sent for 300 ms (20 bytes still queued)"),
                  std::string::npos)
            << *reason;
        EXPECT_GE(Clock::now() - lastMove, settings.writeTimeout);
        EXPECT_LT(Clock::now() - lastMove, settings.writeTimeout + 500ms);
      } else if (c.progress > 0) {
        EXPECT_GT(took, settings.writeTimeout);
      } else {
        EXPECT_LT(took, settings.writeTimeout);
      }
    }
  }
}

}  // namespace
