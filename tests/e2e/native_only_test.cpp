// What only the FLTK build has to do.

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/error_report.h"
#include "tests/e2e/project1_fixture.h"
#include "tests/golden/golden_job.h"
#include "tests/support/temp_dir.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using testing_support::goldenJob;

TEST_F(Project1, WithoutADisplayItSaysSoOnOneLineAndEnds) {
  program_ = t().start(Port::Line, {{"DISPLAY", std::nullopt}});
  expectExit(app::kNoWindowExitCode);
  const std::string err = program_->err();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_TRUE(!err.empty() && err.back() == '\n') << err;
  EXPECT_EQ(err.rfind("Project1: The window could not be made: ", 0), 0u) << err;
  EXPECT_NE(err.find("display"), std::string::npos) << err;
  EXPECT_EQ(program_->out(), "");
  EXPECT_TRUE(portUntouched());
}

// The program reads and writes no files: the toolkit must not either (FLTK keeps its options
// in $HOME/.fltk, and writes them back on the first look).
TEST_F(Project1, LeavesTheHomeDirectoryAlone) {
  const testing_support::TempDir homes;
  const std::filesystem::path& home = homes.path();
  const struct {
    const char* name;
    std::filesystem::path home;
  } cases[] = {
      {"an empty home", home / "empty"},
      {"a home that is not there", home / "missing" / "home"},
  };
  std::filesystem::create_directory(home / "empty");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string window;
    // A click that fails shows the error box: the window, its button, the box and its button
    // all take the focus in turn.
    ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Missing, &window, {{"HOME", c.home.string()}}));
    activate(Activation::Click, window);
    std::string box;
    ASSERT_TRUE(errorBoxShown(&box));
    answerAndExpectExit(box);
  }
  EXPECT_TRUE(std::filesystem::is_empty(home / "empty"));
  EXPECT_FALSE(std::filesystem::exists(home / "missing"));
}

// Form1 is laid out in twips: at the display's DPI, as desktop programs on X11 take it from the
// Xft.dpi resource (96 when it is not set: the other tests).
TEST_F(Project1, ScalesForm1WithTheDisplaysDpi) {
  XSession own;
  own.setResources("Xft.dpi:\t144\n");
  useSession(own);
  std::string window;
  ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Line, &window));
  const Box geometry = x().windowGeometry(window);
  EXPECT_EQ(geometry.width, 468);  // 4680 twips at 144 dpi
  EXPECT_EQ(geometry.height, 309);
  const auto shot = x().settledScreenshot(window, "native-form1-144dpi", 10s);
  ASSERT_TRUE(shot);
  const auto button = boundingBoxOfOthers(*shot, dominantColor(*shot));
  ASSERT_TRUE(button);
  EXPECT_NEAR(button->x, 48, 1);
  EXPECT_NEAR(button->y, 24, 1);
  EXPECT_NEAR(button->width, 362, 2);
  EXPECT_NEAR(button->height, 182, 2);
  closeAndExpectExit(window);
}

// The error box on a small screen: all of it, OK included, within reach, and the text inside
// the box in either language (Chinese has no spaces to break lines at).
TEST_F(Project1, TheErrorBoxFitsOnASmallScreen) {
  XSession small(320, 240);
  useSession(small);
  const EnvChanges chinese{{"LANG", "zh_TW.UTF-8"}, {"LC_ALL", "zh_TW.UTF-8"}, {"LANGUAGE", ""}};
  const struct {
    const char* name;
    EnvChanges env;
    bool held;  // otherwise nothing is at port 1
  } cases[] = {
      {"English", {}, false},
      {"zh-TW", chinese, false},
      {"zh-TW-in-use", chinese, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<PortHold> hold = c.held ? holdPortOrLeaveOut(c.name) : nullptr;
    if (c.held && !hold) continue;
    std::string window;
    ASSERT_NO_FATAL_FAILURE(startWithWindow(c.held ? Port::Line : Port::Missing, &window, c.env));
    activate(Activation::Click, window);
    std::string box;
    ASSERT_TRUE(errorBoxShown(&box));
    const auto shot =
        x().settledScreenshot(box, std::string("native-error-320x240-") + c.name, 10s);
    ASSERT_TRUE(shot);
    const Box placed = x().windowGeometry(box);
    EXPECT_TRUE(placed.x >= 0 && placed.y >= 0 && placed.x + placed.width <= 320 &&
                placed.y + placed.height <= 240)
        << "the box (" << placed.width << " x " << placed.height << " at " << placed.x << ","
        << placed.y << ") is not all on the 320 x 240 screen";
    EXPECT_GE(textLines(*shot), 3) << "too little text in the box";
    const std::uint32_t background = dominantColor(*shot);
    // Nothing drawn in the box's right margin: a line too long runs into it and off the box.
    Image right = *shot;
    constexpr int kMargin = 6;
    right.width = kMargin;
    right.rgb.clear();
    for (int y = 0; y < shot->height; ++y) {
      const auto row = shot->rgb.begin() +
                       (static_cast<std::ptrdiff_t>(y) * shot->width + shot->width - kMargin) * 3;
      right.rgb.insert(right.rgb.end(), row, row + kMargin * 3);
    }
    EXPECT_FALSE(boundingBoxOfOthers(right, background)) << "text runs off the box's right side";
    // OK is the lowest thing drawn, centred, with the background below it.
    Image bottom = *shot;
    const int top = shot->height * 2 / 3;
    bottom.height = shot->height - top;
    bottom.rgb.erase(bottom.rgb.begin(),
                     bottom.rgb.begin() + static_cast<std::ptrdiff_t>(top) * shot->width * 3);
    const auto ok = boundingBoxOfOthers(bottom, background);
    ASSERT_TRUE(ok) << "nothing drawn in the lower third of the box";
    EXPECT_LT(top + ok->y + ok->height, shot->height) << "OK is cut off at the bottom";
    EXPECT_GT(ok->x, 0);
    EXPECT_LT(ok->x + ok->width, shot->width);
    answerAndExpectExit(box);
  }
}

// On a system without a font for Chinese, FLTK draws the Chinese box's characters as empty
// boxes: the check the Chinese error box passes sees them (the package depends on such a font).
TEST_F(Project1, WithoutAChineseFontTheBoxShowsEmptyBoxesAndTheCheckSeesThem) {
  const std::filesystem::path latin = "/usr/share/fonts/truetype/dejavu";
  if (!std::filesystem::is_directory(latin)) GTEST_SKIP() << "no " << latin << " here";
  const testing_support::TempDir fonts;
  const std::filesystem::path config = fonts.path() / "fonts.conf";
  std::ofstream(config) << "<?xml version=\"1.0\"?>\n<fontconfig>\n  <dir>" << latin.string()
                        << "</dir>\n  <cachedir>" << (fonts.path() / "cache").string()
                        << "</cachedir>\n</fontconfig>\n";
  std::string window;
  ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Missing, &window,
                                          {{"FONTCONFIG_FILE", config.string()},
                                           {"LANG", "zh_TW.UTF-8"},
                                           {"LC_ALL", "zh_TW.UTF-8"},
                                           {"LANGUAGE", ""}}));
  activate(Activation::Click, window);
  std::string box;
  ASSERT_TRUE(errorBoxShown(&box));
  const auto shot = x().settledScreenshot(box, "native-error-zh-TW-latin-font-only", 10s);
  ASSERT_TRUE(shot);
  EXPECT_GE(emptyGlyphBoxes(*shot), 5);
  EXPECT_NE(program_->err().find("錯誤 8002"), std::string::npos) << program_->err();
  answerAndExpectExit(box);
}

// A signal to end the program (a shutdown, Ctrl+C in its terminal, the terminal closing)
// closes the window as the user would: what was queued still goes out.
TEST_F(Project1, ASignalToEndClosesTheWindowAndTheReceiptStillGoesOut) {
  const std::string job = goldenJob();
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    std::string window;
    std::size_t filled = 0;
    ASSERT_NO_FATAL_FAILURE(clickWithTheLineFull(&window, &filled));
    ASSERT_EQ(::kill(program_->pid(), signal), 0);
    // The job waits for the line: a program that drops it ends now.
    program_->waitExit(1s);
    EXPECT_TRUE(fillerThenGoldenJob(line().read(filled + job.size(), 5s), filled));
    expectExit(0);
    // Nothing to say when all went out (a sanitizer may add its own lines).
    EXPECT_EQ(program_->err().find("Project1:"), std::string::npos) << program_->err();
  }
  // While the error box shows: as OK would, with the error's exit code.
  std::string window;
  ASSERT_NO_FATAL_FAILURE(startWithWindow(Port::Missing, &window));
  activate(Activation::Click, window);
  std::string box;
  ASSERT_TRUE(errorBoxShown(&box));
  ASSERT_EQ(::kill(program_->pid(), SIGTERM), 0);
  expectExit(app::kErrorExitCode);
  EXPECT_NE(program_->err().find("Error 8002"), std::string::npos) << program_->err();
}

// Asked again while the last receipt waits for a line that takes nothing (a second Ctrl+C, or
// one after the user closed the window), the program stops at once: it says on one line how
// much did not go out, and exits with the error's code.
TEST_F(Project1, ASignalWhileTheLastReceiptDrainsStopsTheProgramAtOnce) {
  const struct {
    const char* name;
    int first;  // 0: the user closes the window
    int second;
  } cases[] = {
      {"SIGTERM, then SIGINT", SIGTERM, SIGINT},
      {"SIGINT, then SIGTERM", SIGINT, SIGTERM},
      {"the window closed, then SIGHUP", 0, SIGHUP},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string window;
    std::size_t filled = 0;
    ASSERT_NO_FATAL_FAILURE(clickWithTheLineFull(&window, &filled));
    if (c.first != 0) {
      ASSERT_EQ(::kill(program_->pid(), c.first), 0);
    } else {
      closeWindow(window);
    }
    ASSERT_TRUE(waitFor([&] { return x().visibleWindows("^Form1$").empty(); }, 5s));
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(program_->running()) << "the receipt did not wait for the line";

    const auto signalled = Clock::now();
    ASSERT_EQ(::kill(program_->pid(), c.second), 0);
    const auto status = program_->waitExit(3s);
    const auto took = std::chrono::duration_cast<Ms>(Clock::now() - signalled);
    ASSERT_TRUE(status) << "still running " << took.count() << " ms after the second signal";
    EXPECT_LT(took, 1s);
    std::printf("  %s: ended %lld ms after the second signal\n", c.name,
                static_cast<long long>(took.count()));
    EXPECT_EQ(status->describe(), "exit code " + std::to_string(app::kErrorExitCode));
    const std::string err = program_->err();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("Project1: stopped before the receipt was sent: 267 of 267 bytes not sent "
                       "to /dev/ttyS0\n"),
              std::string::npos)
        << err;
    EXPECT_TRUE(portReleased());
    // None of the receipt reached the line: only the filler is there to read.
    EXPECT_EQ(line().read(filled + 1, 1s), std::string(filled, 'z'));
  }
}

// The X server going away (a crash, a logout) ends the program, but not the receipt already
// queued: it goes out, and stderr says so.
TEST_F(Project1, LosingTheDisplayStillDeliversTheQueuedReceipt) {
  XSession own;
  useSession(own);
  std::string window;
  std::size_t filled = 0;
  ASSERT_NO_FATAL_FAILURE(clickWithTheLineFull(&window, &filled));
  own.endServer();
  program_->waitExit(1s);
  EXPECT_TRUE(fillerThenGoldenJob(line().read(filled + goldenJob().size(), 5s), filled));
  expectExit(app::kNoWindowExitCode);
  const std::string err = program_->err();
  EXPECT_NE(err.find("X I/O error"), std::string::npos) << err;
  EXPECT_NE(err.find("went out in full"), std::string::npos) << err;
}

}  // namespace
}  // namespace e2e
