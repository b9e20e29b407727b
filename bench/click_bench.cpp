// What a click costs the window, and how the line is used, against a stand-in device paced
// at 9600 baud and against a pseudo-terminal.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "receipt/print_run.h"
#include "serial/device.h"
#include "serial/mscomm.h"
#include "tests/golden/golden_job.h"
#include "tests/support/pty_pair.h"
#include "tests/support/stand_in_device.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::kReceiptBytes;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One byte every 1.0417 ms: 10 bits at 9600 baud.
void ClickOnPacedLine(benchmark::State& state) {
  std::vector<double> spans;
  std::vector<double> handler;
  for (auto _ : state) {
    state.PauseTiming();
    auto line = std::make_shared<testing_support::Line>();
    line->perByte = std::chrono::microseconds(1042);
    {
      serial::MSComm comm({}, testing_support::standInOpener(line));
      state.ResumeTiming();
      const auto start = Clock::now();
      receipt::runPrintTest(comm);
      handler.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      state.PauseTiming();
    }  // drains
    if (line->byteTimes.size() != kReceiptBytes) state.SkipWithError("bytes lost");
    spans.push_back(
        std::chrono::duration<double, std::milli>(line->byteTimes.back() - line->byteTimes.front())
            .count());
    state.ResumeTiming();
  }
  // First byte to last byte: 266 byte times after the first, ideally 277.1 ms.
  state.counters["handler_median_us"] = median(handler);
  state.counters["first_to_last_ms"] = median(spans);
  state.counters["vs_ideal"] = median(spans) / (static_cast<double>(kReceiptBytes - 1) * 1.0417);
}
BENCHMARK(ClickOnPacedLine)->Unit(benchmark::kMicrosecond)->Iterations(30);

void ClickOnPty(benchmark::State& state) {
  testing_support::PtyPair pty;
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> received{0};
  std::thread reader([&] {
    while (!stop) received += pty.read(1 << 16, 20ms).size();
  });
  serial::MSComm comm(
      {}, [&](const serial::Settings& s) { return serial::openDeviceAt(pty.slavePath(), s); });
  std::size_t clicks = 0;
  std::vector<double> handler;
  for (auto _ : state) {
    const auto start = Clock::now();
    receipt::runPrintTest(comm);
    handler.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    ++clicks;
    state.PauseTiming();
    comm.setPortOpen(true);  // waits for the previous session to let go
    comm.setPortOpen(false);
    state.ResumeTiming();
  }
  for (auto until = Clock::now() + 5s; received < clicks * kReceiptBytes && Clock::now() < until;) {
    std::this_thread::sleep_for(1ms);
  }
  stop = true;
  reader.join();
  if (received != clicks * kReceiptBytes) state.SkipWithError("bytes lost");
  state.counters["handler_median_us"] = median(handler);
}
BENCHMARK(ClickOnPty)->Unit(benchmark::kMicrosecond)->Iterations(1000);

}  // namespace

BENCHMARK_MAIN();
