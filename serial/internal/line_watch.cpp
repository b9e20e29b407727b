#include "serial/internal/line_watch.h"

#include <algorithm>
#include <thread>
#include "texts/texts.h"

namespace serial::internal {

LineWatch::LineWatch(const Settings& settings, QueueView view, Clock::time_point now)
    : settings_(settings), view_(view), last_(now) {}

void LineWatch::taken(Clock::time_point now) {
  last_ = now;
  queued_.reset();  // grown by what was taken: the next reading starts afresh
}

bool LineWatch::queued(std::optional<std::size_t> bytes, Clock::time_point now) {
  if (bytes && *bytes > 0) queueSeen_ = true;
  const bool moved = bytes && queued_ && *bytes < *queued_;
  if (moved) last_ = now;
  queued_ = bytes;
  return moved;
}

std::chrono::milliseconds LineWatch::limit() const {
  const bool outOfSight =
      view_ == QueueView::Hidden || (view_ == QueueView::UntilSeen && !queueSeen_);
  return settings_.writeTimeout +
         (outOfSight ? unseenQueueAllowance(settings_) : std::chrono::milliseconds(0));
}

std::string LineWatch::standingStill() const {
  const std::string ms = std::to_string(limit().count());
  if (queued_ && *queued_ > 0) {
    return texts::text(texts::Text::NothingSentForQueued, {ms, std::to_string(*queued_)});
  }
  return texts::text(texts::Text::NothingSentFor, {ms});
}

std::optional<std::string> drainQueue(const Settings& settings, QueueView view,
                                      std::chrono::microseconds shortestNap,
                                      const std::function<std::optional<std::size_t>()>& queued,
                                      const std::function<void()>& progressed) {
  // Waits at line speed while the queue moves; a queue the device cannot show is taken as
  // empty, there being nothing to wait on.
  using Clock = LineWatch::Clock;
  LineWatch watch(settings, view, Clock::now());
  auto now = queued();
  watch.queued(now, Clock::now());
  while (now && *now > 0) {
    if (watch.stopped(Clock::now())) return watch.standingStill();
    std::this_thread::sleep_for(std::clamp<std::chrono::microseconds>(
        lineTime(settings, *now), shortestNap, std::chrono::milliseconds(20)));
    now = queued();
    if (watch.queued(now, Clock::now())) progressed();
  }
  return std::nullopt;
}

}  // namespace serial::internal
