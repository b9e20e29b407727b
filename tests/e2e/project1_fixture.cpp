#include "tests/e2e/project1_fixture.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>

#include "posix/unique_fd.h"
#include "tests/golden/golden_job.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

std::unique_ptr<Target> theTarget;
std::string targetFault;

// Makes the target (X server, pty, ...) once for the executable, and ends it after the last test.
class TargetEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    try {
      theTarget = makeTarget();
    } catch (const std::exception& e) {
      targetFault = e.what();
    }
  }
  void TearDown() override {
    try {
      theTarget.reset();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "ending the test environment: " << e.what();
    }
    // Helpers' output is kept only when something went wrong.
    if (::testing::UnitTest::GetInstance()->Passed()) {
      removeLogDir();
    } else {
      std::cout << "helper output kept in " << logDir() << "\n";
    }
  }
};

[[maybe_unused]] const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new TargetEnvironment);

}  // namespace

Target& target() { return *theTarget; }

void Project1::SetUp() {
  if (!theTarget) FAIL() << "the test environment did not come up: " << targetFault;
  bool skipOnly = false;
  if (const auto why = t().unavailable(&skipOnly)) {
    if (skipOnly) {
      GTEST_SKIP() << *why;
    }
    FAIL() << *why;
  }
  struct stat st {};
  ASSERT_EQ(::stat(line().slavePath().c_str(), &st), 0);
  lineDevice_ = st.st_rdev;
  ASSERT_TRUE(portReleased()) << "a program from an earlier test still holds the line";
  line().readUntilQuiet(50ms);  // whatever an earlier test left
  const termios sentinel = sentinelTermios();
  // Through the master, which Linux applies to the slave: the target may have parked its slave.
  ASSERT_EQ(::tcsetattr(line().master(), TCSANOW, &sentinel), 0) << std::strerror(errno);
  ASSERT_EQ(::tcgetattr(line().master(), &settings_), 0);
  ready_ = true;
}

void Project1::TearDown() {
  if (program_ && program_->running()) {
    ADD_FAILURE() << "the program was still running at the end of the test; stopped";
    program_->stop();
  }
  program_.reset();
  session_ = nullptr;  // the test's own ended with it
  if (ready_) {
    EXPECT_TRUE(portReleased());
  }
}

void Project1::startWithWindow(Port port, std::string* window, const EnvChanges& env) {
  const auto started = Clock::now();
  EnvChanges changes;
  if (session_) changes.emplace_back("DISPLAY", session_->display());
  changes.insert(changes.end(), env.begin(), env.end());
  program_ = t().start(port, changes);
  std::vector<std::string> windows;
  const bool shown = waitFor(
      [&] {
        windows = x().visibleWindows("^Form1$");
        return !windows.empty() || !program_->running();
      },
      20s, 50ms);
  ASSERT_TRUE(shown && program_->running())
      << "no window Form1; the program "
      << (program_->running() ? "runs" : "ended with " + program_->waitExit(0ms)->describe())
      << "; its output: " << program_->out() << program_->err();
  windowAfter_ = std::chrono::duration<double>(Clock::now() - started).count();
  // A second window may be on its way: look again once the first has settled.
  ASSERT_TRUE(x().settledScreenshot(windows.front(), t().name() + "-form1", 10s))
      << "Form1 was never drawn";
  windows = x().visibleWindows("^Form1$");
  ASSERT_EQ(windows.size(), 1u) << "windows titled Form1: " << windows.size();
  *window = windows.front();
}

void Project1::activate(Activation how, const std::string& window) {
  const std::string cx = std::to_string(kButtonCenterX);
  const std::string cy = std::to_string(kButtonCenterY);
  switch (how) {
    case Activation::Click:
      x().xdotoolOk({"mousemove", "--window", window, cx, cy, "click", "1"});
      break;
    case Activation::Space:
      x().xdotoolOk({"windowactivate", "--sync", window, "key", "space"});
      break;
    case Activation::Enter:
      x().xdotoolOk({"windowactivate", "--sync", window, "key", "Return"});
      break;
  }
}

void Project1::closeWindow(const std::string& window) {
  x().xdotoolOk({"windowactivate", "--sync", window, "key", "alt+F4"});
}

std::optional<ExitStatus> Project1::waitForExit() {
  const auto status = program_->waitExit(20s);
  EXPECT_TRUE(status) << "the program did not end; windows Form1: "
                      << x().visibleWindows("^Form1$").size()
                      << ", Project1: " << x().visibleWindows("^Project1$").size()
                      << "; threads: " << threadStates(program_->pid());
  return status;
}

void Project1::expectExit(int code) {
  const auto status = waitForExit();
  if (status) {
    EXPECT_EQ(status->describe(), "exit code " + std::to_string(code));
  }
}

void Project1::closeAndExpectExit(const std::string& window, int code) {
  closeWindow(window);
  expectExit(code);
}

::testing::AssertionResult Project1::errorBoxShown(std::string* box, Ms within) {
  std::vector<std::string> found;
  waitFor(
      [&] {
        found = x().visibleWindows("^Project1$");
        return !found.empty() || !program_->running();
      },
      within, Ms(50));
  if (found.size() == 1) {
    *box = found.front();
    return ::testing::AssertionSuccess();
  }
  if (!found.empty()) {
    return ::testing::AssertionFailure() << found.size() << " message boxes titled Project1";
  }
  return ::testing::AssertionFailure()
         << "no message box titled Project1; the program "
         << (program_->running() ? "runs" : "ended with " + program_->waitExit(Ms(0))->describe());
}

void Project1::answerAndExpectExit(const std::string& box, int code) {
  x().xdotoolOk({"windowactivate", "--sync", box, "key", "Return"});
  expectExit(code);
}

std::unique_ptr<PortHold> Project1::holdPortOrLeaveOut(const std::string& name) {
  std::string whyNot;
  auto hold = t().holdPort(&whyNot);
  if (!hold) std::cout << "[ note ] " << name << " left out: " << whyNot << "\n";
  return hold;
}

::testing::AssertionResult Project1::portUntouched() {
  const auto holders = holdersOf(lineDevice_);
  if (!holders.empty()) {
    return ::testing::AssertionFailure() << "the line is open in process(es) " << joinPids(holders);
  }
  termios now{};
  if (::tcgetattr(line().master(), &now) != 0 || !sameTermios(now, settings_)) {
    return ::testing::AssertionFailure() << "the line's settings were changed";
  }
  const std::string came = line().read(1, 100ms);
  if (!came.empty()) return ::testing::AssertionFailure() << "bytes reached the line";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult Project1::portReleased() {
  std::vector<pid_t> holders;
  bool lockFree = false;
  int exclusive = 0;  // root opens past it; another user would find the port busy
  const bool released = waitFor(
      [&] {
        holders = holdersOf(lineDevice_);
        lockFree = false;
        const posix::UniqueFd fd(
            ::open(line().slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
          lockFree = true;
          ::flock(fd.get(), LOCK_UN);
        }
        if (!fd || ::ioctl(fd.get(), TIOCGEXCL, &exclusive) != 0) exclusive = -1;
        return holders.empty() && lockFree && exclusive == 0;
      },
      5s);
  if (released) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "after 5 s the line is still open in process(es) " << joinPids(holders)
         << (lockFree ? "" : " and locked") << (exclusive == 0 ? "" : " and in exclusive mode");
}

::testing::AssertionResult fillerThenGoldenJob(std::string_view came, std::size_t filled) {
  if (came.size() < filled) {
    return ::testing::AssertionFailure()
           << came.size() << " bytes came, fewer than the " << filled << " of filler";
  }
  if (came.substr(0, filled) != std::string(filled, 'z')) {
    return ::testing::AssertionFailure() << "the filler did not come out first, whole";
  }
  const std::string job = testing_support::toHex(came.substr(filled));
  const std::string golden = testing_support::toHex(testing_support::goldenJob());
  if (job != golden) {
    return ::testing::AssertionFailure()
           << "after the filler came\n  " << job << "\nnot\n  " << golden;
  }
  return ::testing::AssertionSuccess();
}

void Project1::clickWithTheLineFull(std::string* window, std::size_t* filled) {
  ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Line, window));
  *filled = fillLine();
  ASSERT_GT(*filled, 0u);
  activate(Activation::Click, *window);
  // Time for the click's receipt to reach the program's transmitter.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

std::size_t Project1::fillLine(Fill how) {
  const posix::UniqueFd filler(
      ::open(line().slavePath().c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!filler) {
    ADD_FAILURE() << "open " << line().slavePath() << ": " << std::strerror(errno);
    return 0;
  }
  const std::string block(1024, 'z');
  std::size_t filled = 0;
  // Full once rounds after a pause take nothing and the reading side's buffer has stopped
  // filling: the kernel moves what was written on towards that side in the background, and
  // under load it may do so only after a pause, making room again. Small writes go on after
  // large ones fail: the pty hands out recycled small buffers beyond its limit (after a busy
  // run there are many), and the program's writes are small.
  int waiting = -1;  // what the reading side holds
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  for (int quiet = 0; quiet < 3 && Clock::now() < deadline;) {
    std::size_t round = 0;
    for (const std::size_t size : {block.size(), std::size_t{64}, std::size_t{1}}) {
      if (how == Fill::Blocks && size < block.size()) break;
      for (ssize_t n; (n = ::write(filler.get(), block.data(), size)) > 0;) {
        round += static_cast<std::size_t>(n);
      }
    }
    filled += round;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int now = 0;
    if (::ioctl(line().master(), FIONREAD, &now) != 0) now = -1;
    quiet = round == 0 && now > 0 && now == waiting ? quiet + 1 : 0;
    waiting = now;
  }
  return filled;
}

}  // namespace e2e
