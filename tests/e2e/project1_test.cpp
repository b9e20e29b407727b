// The real program in a real X server, driven as a user would, with a pty at port 1.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#include <termios.h>

#include "posix/unique_fd.h"
#include "tests/e2e/project1_fixture.h"
#include "tests/golden/golden_job.h"
#include "tests/support/language.h"
#include "virtual-printer/printer_model.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using testing_support::goldenJob;
using testing_support::toHex;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void measured(const std::string& what, double value, const char* unit) {
  std::cout << "[ measured ] " << target().name() << ": " << what << " = " << value << " " << unit
            << "\n";
  ::testing::Test::RecordProperty(what, std::to_string(value));
}

TEST_F(Project1, ShowsForm1WithItsButtonAndClosesWithoutTouchingThePort) {
  std::string window;
  ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Line, &window));
  measured("start to window", windowAfter_, "s");

  const Box geometry = x().windowGeometry(window);
  const int width = geometry.width;
  const int height = geometry.height;
  EXPECT_EQ(width, kClientWidth);
  EXPECT_EQ(height, kClientHeight);

  const auto shot = x().settledScreenshot(window, t().name() + "-form1", 10s);
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->width, width);
  EXPECT_EQ(shot->height, height);
  // The button is whatever differs from the window's background.
  const auto button = boundingBoxOfOthers(*shot, dominantColor(*shot));
  ASSERT_TRUE(button) << "nothing drawn on the window's background";
  EXPECT_NEAR(button->x, kButton.x, 1);
  EXPECT_NEAR(button->y, kButton.y, 1);
  EXPECT_NEAR(button->width, kButton.width, 2);
  EXPECT_NEAR(button->height, kButton.height, 2);

  EXPECT_TRUE(portUntouched()) << "before any click";

  // Windows' window ignores Escape; only closing it ends the program.
  x().xdotoolOk({"windowactivate", "--sync", window, "key", "Escape"});
  ASSERT_FALSE(program_->waitExit(1s)) << "Escape ended the program";
  EXPECT_EQ(x().visibleWindows("^Form1$").size(), 1u) << "Escape closed the window";
  EXPECT_TRUE(portUntouched()) << "after Escape";

  closeAndExpectExit(window);
  EXPECT_TRUE(portUntouched()) << "after closing without a click";
}

TEST_F(Project1, EachActivationPrintsTheJobOnceAndClosesThePortAgain) {
  const struct {
    const char* name;
    Activation how;
    int times;
  } cases[] = {
      {"one click", Activation::Click, 1},
      {"three clicks", Activation::Click, 3},
      {"Space", Activation::Space, 2},
      {"Enter", Activation::Enter, 2},
  };
  const std::string job = goldenJob();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string window;
    ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Line, &window));
    for (int i = 1; i <= c.times; ++i) {
      SCOPED_TRACE("activation " + std::to_string(i));
      activate(c.how, window);
      EXPECT_EQ(toHex(line().read(job.size(), 10s)), toHex(job));
      EXPECT_EQ(toHex(line().read(1, 200ms)), "") << "more than one job";
      ASSERT_TRUE(portReleased()) << "the port stays open after the job";
    }
    closeAndExpectExit(window);
    EXPECT_TRUE(portReleased());
  }
}

// Whole jobs in `bytes`, each checked; -1 when something else came.
int wholeJobs(const std::string& bytes) {
  const std::string job = goldenJob();
  if (bytes.size() % job.size() != 0) return -1;
  for (std::size_t at = 0; at < bytes.size(); at += job.size()) {
    if (bytes.compare(at, job.size(), job) != 0) return -1;
  }
  return static_cast<int>(bytes.size() / job.size());
}

// Everything the line carries while `act` runs and until it has been quiet for `quiet`
// after, bounded; split at the moment `act` calls mark().
struct Heard {
  std::string before, after;
};
template <class Act>
Heard listenWhile(testing_support::PtyPair& line, Act&& act, Ms quiet = Ms(700)) {
  std::mutex m;
  std::string bytes;
  std::size_t split = std::string::npos;
  std::atomic<bool> stop{false};
  auto lastByte = Clock::now();
  std::thread reader([&] {
    while (!stop) {
      const std::string chunk = line.read(4096, Ms(20));
      if (chunk.empty()) continue;
      const std::lock_guard lock(m);
      bytes += chunk;
      lastByte = Clock::now();
    }
  });
  const auto mark = [&] {
    const std::lock_guard lock(m);
    split = bytes.size();
  };
  act(mark);
  const auto started = Clock::now();
  waitFor(
      [&] {
        const std::lock_guard lock(m);
        return Clock::now() - lastByte >= quiet || Clock::now() - started > Ms(20000);
      },
      Ms(30000));
  stop = true;
  reader.join();
  if (split == std::string::npos) split = bytes.size();
  return {bytes.substr(0, split), bytes.substr(split)};
}

// A key held down repeats (Xvfb's auto-repeat: after 660 ms, every 40 ms). Enter clicks the
// focused default button at every repeat, as Windows' dialog manager does; Space pushes the
// button down and clicks once, on release.
TEST_F(Project1, HoldingAKeyDownPrintsAsANativeButtonDoes) {
  const struct {
    const char* key;
    int heldAtLeast, heldAtMost;  // jobs while the key is down
    int releasedAtMost;           // jobs after it is let go, beside the repeats it took to
                                  // let go (xdotool starts slowly on a busy machine)
  } cases[] = {
      // First: that the key repeats at all, or the case for Space proves nothing.
      // A repeat may come between the last look and the release, and on a busy machine one
      // more may still wait in the program's queue; a key that went on printing would be dozens.
      {"Return", 10, 60, 2},
      {"space", 0, 0, 1},
  };
  constexpr auto kRepeat = std::chrono::milliseconds(40);  // Xvfb's auto-repeat interval
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    std::string window;
    ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Line, &window));
    std::chrono::steady_clock::duration lettingGo{};
    const Heard heard = listenWhile(line(), [&](const auto& mark) {
      x().xdotoolOk({"windowactivate", "--sync", window, "keydown", c.key});
      std::this_thread::sleep_for(2s);
      mark();
      const auto start = std::chrono::steady_clock::now();
      x().xdotoolOk({"keyup", c.key});
      lettingGo = std::chrono::steady_clock::now() - start;
    });
    // A job may be on its way at the moment of release: counted where it began.
    const int total = wholeJobs(heard.before + heard.after);
    ASSERT_GE(total, 0) << "not whole jobs: " << toHex(heard.before + heard.after);
    const int held =
        static_cast<int>((heard.before.size() + goldenJob().size() - 1) / goldenJob().size());
    const int released = total - held;
    measured(std::string("jobs while holding ") + c.key + " for 2 s", held, "");
    EXPECT_GE(held, c.heldAtLeast) << (c.heldAtLeast > 0 ? "does the X server repeat keys?" : "");
    EXPECT_LE(held, c.heldAtMost);
    const int repeatsWhileLettingGo = c.heldAtMost > 0 ? static_cast<int>(lettingGo / kRepeat) : 0;
    EXPECT_LE(released, c.releasedAtMost + repeatsWhileLettingGo)
        << "letting go took " << std::chrono::duration_cast<Ms>(lettingGo).count() << " ms";
    if (c.heldAtMost == 0) {
      EXPECT_EQ(released, 1) << "no click on release";
    }
    closeAndExpectExit(window);
  }
}

// What the printer makes of one click's bytes, and the line they came over.
TEST_F(Project1, TheLineIsSetUpAndThePrinterPrintsTheReceiptOnBothStations) {
  std::string window;
  ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Line, &window));
  // Status bytes and noise from the printer: never read, and they change nothing.
  const std::string noise = "\x10\x04\x12\x00\xff\r\n";
  ASSERT_EQ(::write(line().master(), noise.data(), noise.size()),
            static_cast<ssize_t>(noise.size()));
  activate(Activation::Click, window);
  const std::string bytes = line().read(testing_support::kReceiptBytes, 10s);
  ASSERT_EQ(bytes.size(), testing_support::kReceiptBytes);
  // What waits on the slave's side, seen through a descriptor of our own once the program has
  // let go of the line.
  ASSERT_TRUE(portReleased());
  const posix::UniqueFd slave(
      ::open(line().slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(slave) << std::strerror(errno);
  int unread = 0;
  ASSERT_EQ(::ioctl(slave.get(), FIONREAD, &unread), 0);
  EXPECT_EQ(unread, static_cast<int>(noise.size())) << "the program read from the line";

  termios tio{};
  ASSERT_EQ(tcgetattr(line().master(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), B9600);
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t{CS8});
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u) << "parity, 2 stop bits or RTS/CTS";
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u) << "XON/XOFF";
  EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "output processing";

  vprinter::PrinterModel printer;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::vector<vprinter::Form> forms = vprinter::formsIn(printer.feed({data, bytes.size()}));
  ASSERT_EQ(forms.size(), 1u);
  const vprinter::Form& form = forms[0];
  EXPECT_TRUE(form.anomalies.empty()) << form.anomalies.size() << " anomalies, first at byte "
                                      << form.anomalies[0].offset << ": " << form.anomalies[0].what;
  const std::vector<std::string> expected = testing_support::goldenLines();
  ASSERT_EQ(expected.size(), 22u);
  EXPECT_EQ(form.receipt, expected);
  EXPECT_EQ(form.journal, expected);
  closeAndExpectExit(window);
}

TEST_F(Project1, AThousandClicksInOneRunPrintAThousandJobs) {
  const int clicks = t().burstClicks();
  const std::string job = goldenJob();
  const std::size_t expected = job.size() * static_cast<std::size_t>(clicks);
  std::string window;
  ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Line, &window));
  x().xdotoolOk({"mousemove", "--window", window, std::to_string(kButtonCenterX),
                 std::to_string(kButtonCenterY)});
  const int descriptorsBefore = descriptorCount(program_->pid());

  // The line is read as the jobs come, as a printer would take them.
  std::string received;
  std::atomic<std::size_t> count{0};
  std::atomic<bool> stopReading{false};
  Clock::time_point lastByte{};
  std::thread reader([&] {
    while (!stopReading && received.size() < expected) {
      // A job at a time: read() returns once it has them all or the line goes quiet.
      const std::string chunk =
          line().read(std::min(job.size(), expected - received.size()), 100ms);
      if (chunk.empty()) continue;
      received += chunk;
      lastByte = Clock::now();
      count = received.size();
    }
  });

  const auto started = Clock::now();
  Process clicker(
      {tools().xdotool, "click", "--repeat", std::to_string(clicks), "--delay", "5", "1"},
      Process::Options::withEnv({{"DISPLAY", x().display()}}), "xdotool-burst");
  int descriptorsMost = descriptorsBefore;
  std::size_t lastCount = 0;
  auto lastProgress = Clock::now();
  // Bounded by progress: the run goes on while jobs keep coming.
  while (count < expected && Clock::now() - lastProgress < 10s && Clock::now() - started < 150s) {
    // From the second job on: the first loads the C library's Big5 converter, whose file is
    // open for a moment while the port is.
    if (t().countsDescriptors() && count > job.size()) {
      descriptorsMost = std::max(descriptorsMost, descriptorCount(program_->pid()));
    }
    if (count != lastCount) {
      lastCount = count;
      lastProgress = Clock::now();
    }
    std::this_thread::sleep_for(10ms);
  }
  stopReading = true;
  reader.join();
  const auto clickerStatus = clicker.waitExit(10s);
  EXPECT_TRUE(clickerStatus && clickerStatus->code() == 0) << "xdotool: " << clicker.err();

  const double seconds = received.empty()
                             ? secondsSince(started)
                             : std::chrono::duration<double>(lastByte - started).count();
  measured("clicks", clicks, "");
  measured("time for all clicks", seconds, "s");
  measured("clicks per second", clicks / seconds, "/s");

  EXPECT_EQ(received.size(), expected) << received.size() / job.size() << " whole jobs came";
  for (std::size_t at = 0; at < received.size(); at += job.size()) {
    if (received.compare(at, job.size(), job) != 0) {
      ADD_FAILURE() << "job " << at / job.size() + 1
                    << " differs: " << toHex(received.substr(at, job.size()));
      break;
    }
  }
  EXPECT_TRUE(portReleased());
  if (t().countsDescriptors()) {
    // One for the port while a job is out, and nothing left behind.
    EXPECT_LE(descriptorsMost, descriptorsBefore + 1);
    EXPECT_LE(descriptorCount(program_->pid()), descriptorsBefore);
    measured("descriptors before", descriptorsBefore, "");
    measured("descriptors at most", descriptorsMost, "");
  }

  closeAndExpectExit(window);
}

TEST_F(Project1, ClosingRightAfterAClickStillDeliversEveryByte) {
  std::string window;
  ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Line, &window));

  // A line that takes nothing until the test reads: the job waits in the program, which must
  // not end before it has gone out.
  const std::size_t filled = fillLine();
  ASSERT_GT(filled, 0u);

  x().xdotoolOk({"windowactivate", "--sync", window, "mousemove", "--window", window,
                 std::to_string(kButtonCenterX), std::to_string(kButtonCenterY), "click", "1",
                 "key", "alt+F4"});
  // A program that would end without draining ends now; one that drains waits for the line,
  // far longer than this, before its write times out.
  program_->waitExit(1s);

  EXPECT_TRUE(fillerThenGoldenJob(line().read(filled + goldenJob().size(), 5s), filled));
  EXPECT_EQ(toHex(line().read(1, 200ms)), "");
  expectExit(0);
}

// A printer that is off or out of paper takes nothing: the click has long returned when the
// write gives up, and the program still says so and ends.
TEST_F(Project1, APrinterThatStopsTakingBytesIsReportedAndEndsTheProgram) {
  std::string window;
  std::size_t filled = 0;
  ASSERT_NO_FATAL_FAILURE(clickWithTheLineFull(&window, &filled));
  std::string box;
  ASSERT_TRUE(errorBoxShown(&box, 20s));
  answerAndExpectExit(box);

  // What got out is the start of the receipt, nothing garbled.
  const std::string came = line().readUntilQuiet(300ms);
  ASSERT_GE(came.size(), filled);
  EXPECT_EQ(came.substr(0, filled), std::string(filled, 'z'));
  EXPECT_TRUE(goldenJob().starts_with(came.substr(filled))) << toHex(came.substr(filled));
  EXPECT_TRUE(portReleased());
}

// Last: under Wine the missing port is a remapping of COM1, best done once at the end.
TEST_F(Project1, APortProblemShowsTheErrorAndEndsTheProgram) {
  const struct {
    const char* name;
    bool held;  // otherwise nothing is at port 1
    const char* error;
    // What the advice names, natively and under Wine: how to put an adapter on port 1.
    const char* nativeAdvice;
    const char* wineAdvice;
    const char* nothingSent;
    bool chinese;  // on a Chinese (Taiwan) system
  } cases[] = {
      {"port-in-use", true, "Error 8010", "ModemManager", "close the program that holds it",
       "Nothing was sent to the printer.", false},
      {"port-missing", false, "Error 8002", "project1-port /dev/ttyUSB0", "Device Manager",
       "Nothing was sent to the printer.", false},
      {"port-missing-zh-TW", false, "錯誤 8002", "請用 project1-port /dev/ttyUSB0 執行本程式",
       "找不到序列埠：USB 轉序列埠轉接器通常是 COM3 以上", "沒有任何資料送到印表機。", true},
  };
  std::map<std::string, Image> boxes;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<PortHold> hold = c.held ? holdPortOrLeaveOut(c.name) : nullptr;
    if (c.held && !hold) continue;
    // A holder may have set the line up its own way; that is what must stay.
    ASSERT_EQ(::tcgetattr(line().master(), &settings_), 0);
    std::string window;
    // What the box says, on stderr: the FLTK build writes it there too, and Wine's trace of
    // message boxes shows the text the Windows build gave MessageBox. The text inside a box
    // cannot be read off the X server: Wine draws its controls into the one X window.
    EnvChanges env{{"WINEDEBUG", "-all,+msgbox"}};
    if (c.chinese) {
      // As a Chinese (Taiwan) system runs it: Wine takes the UI language from the locale too.
      env.insert(env.end(), {{"LANG", "zh_TW.UTF-8"}, {"LC_ALL", "zh_TW.UTF-8"}, {"LANGUAGE", ""}});
    }
    ASSERT_NO_FATAL_FAILURE(startWithWindow(c.held ? Port::Line : Port::Missing, &window, env));
    activate(Activation::Click, window);

    std::string box;
    ASSERT_TRUE(errorBoxShown(&box)) << "; on the line: " << toHex(line().read(4096, 200ms));
    const auto shot = x().settledScreenshot(box, t().name() + "-error-" + c.name, 10s);
    ASSERT_TRUE(shot) << "the message box was never drawn";
    // The number, the description and the closing sentence: several lines of text.
    EXPECT_GE(textLines(*shot), 3) << "too little text in the message box";
    // All of it, and its OK button, within a small screen.
    const Box placed = x().windowGeometry(box);
    EXPECT_TRUE(placed.x >= 0 && placed.y >= 0 &&
                placed.x + placed.width <= XSession::kScreenWidth &&
                placed.y + placed.height <= XSession::kScreenHeight)
        << "the message box (" << placed.width << " x " << placed.height << " at " << placed.x
        << "," << placed.y << ") does not fit on a " << XSession::kScreenWidth << " x "
        << XSession::kScreenHeight << " screen";
    if (c.chinese && !t().name().starts_with("wine")) {
      // FLTK draws an empty box for each character its font lacks.
      EXPECT_EQ(emptyGlyphBoxes(*shot), 0) << "characters drawn as empty boxes: no font has them";
    }
    boxes[c.name] = *shot;

    EXPECT_EQ(toHex(line().read(1, 300ms)), "") << "bytes reached the line";
    termios now{};
    ASSERT_EQ(::tcgetattr(line().master(), &now), 0);
    EXPECT_TRUE(sameTermios(now, settings_)) << "the line's settings were changed";

    // The program's own code for an error, through wine too.
    answerAndExpectExit(box);
    // Wine's trace writes what is past ASCII as \NNNN, and only the first 300 or so
    // characters: the closing sentence is read on the native program's stderr alone.
    const bool wine = t().name().starts_with("wine");
    const auto said = [&](const std::string& text) {
      return program_->err().find(wine ? testing_support::wineEscaped(text) : text) !=
             std::string::npos;
    };
    EXPECT_TRUE(said(c.error)) << "the box did not say " << c.error << ": " << program_->err();
    const char* advice = wine ? c.wineAdvice : c.nativeAdvice;
    EXPECT_TRUE(said(advice)) << "the box did not name " << advice << ": " << program_->err();
    if (!wine) {
      EXPECT_TRUE(said(c.nothingSent))
          << "the box did not say " << c.nothingSent << ": " << program_->err();
    }
    EXPECT_TRUE(x().visibleWindows("^(Form1|Project1)$").empty()) << "windows left behind";
    hold.reset();
    EXPECT_TRUE(portReleased());
  }
  if (boxes.size() == 2) {
    EXPECT_FALSE(boxes["port-in-use"] == boxes["port-missing"])
        << "the same message for a missing port as for one in use";
  }
}

}  // namespace
}  // namespace e2e
