#pragma once

// What the end-to-end tests drive the real program with: helper processes whose output goes to
// files, an X server with a window manager, xdotool, screenshots, and a look at who holds a pty.

#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace e2e {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// Polls `ready` until it holds or `timeout` has passed; true when it held.
template <class Ready>
bool waitFor(Ready&& ready, Ms timeout, Ms step = Ms(20)) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (ready()) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
  }
}

// Where screenshots are kept, and (per run) the helpers' output.
std::string artifactsDir();
std::string logDir();
// Drops this run's logs; called when every test passed.
void removeLogDir();

struct ExitStatus {
  int raw = 0;
  bool exited() const;
  int code() const;  // -1 unless exited
  bool signaled() const;
  std::string describe() const;
};

// Changes to this process's environment for a child: a value sets, nullopt removes.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

// A helper process: stdin /dev/null, stdout and stderr to files, no other descriptor of ours.
// Ended by its PID only.
class Process {
 public:
  struct Options {
    EnvChanges env;
    std::string workDir;
    std::function<void()> inChild;  // runs in the child just before exec; may throw
    int passFd = -1;                // handed to the child as descriptor 3

    static Options withEnv(EnvChanges env) {
      Options options;
      options.env = std::move(env);
      return options;
    }
  };
  Process(const std::vector<std::string>& argv, const Options& options, const std::string& label);
  ~Process();  // stops it if still running
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  std::optional<ExitStatus> waitExit(Ms timeout);
  // SIGTERM, then SIGKILL if it has not ended within `grace`; reaped either way.
  void stop(Ms grace = Ms(3000));

  std::string out() const;
  std::string err() const;
  const std::string& label() const { return label_; }

 private:
  std::string label_;
  std::string outPath_;
  std::string errPath_;
  pid_t pid_ = -1;
  std::optional<ExitStatus> status_;
};

struct RunResult {
  ExitStatus status;
  std::string out;
  std::string err;
};

// Runs a helper to its end, bounded by `timeout` (then it is killed and this throws).
RunResult run(const std::vector<std::string>& argv, const Process::Options& options = {},
              Ms timeout = Ms(30000));
// Same, and throws unless it exited with 0.
std::string runOk(const std::vector<std::string>& argv, const Process::Options& options = {},
                  Ms timeout = Ms(30000));

// Helper programs, found when the build was configured.
struct Tools {
  std::string xvfb, openbox, xdotool, import, convert;
};
const Tools& tools();
// Why the X tools cannot be used here, if they cannot.
std::optional<std::string> missingTools();

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgb;
  std::uint32_t at(int x, int y) const;
  bool operator==(const Image&) const = default;
};
Image parsePpm(const std::string& bytes);

struct Box {
  int x = 0, y = 0, width = 0, height = 0;
};
// The colour most pixels have.
std::uint32_t dominantColor(const Image& image);
// The smallest box around every pixel whose colour is not `background`.
std::optional<Box> boundingBoxOfOthers(const Image& image, std::uint32_t background);
// Number of separate bands of rows with near-black pixels in them: lines of text, roughly.
int textLines(const Image& image);
// Hollow rectangles the size of a letter, alone or side by side: what a font draws for each
// character it lacks. Real text has none (the character 口 would count: no text has it).
int emptyGlyphBoxes(const Image& image);

// A private X server with a window manager, for one test executable.
class XSession {
 public:
  static constexpr int kScreenWidth = 1024;
  static constexpr int kScreenHeight = 768;

  // Throws std::runtime_error when either does not come up.
  explicit XSession(int screenWidth = kScreenWidth, int screenHeight = kScreenHeight);
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  const std::string& display() const { return display_; }

  RunResult xdotool(const std::vector<std::string>& args, Ms timeout = Ms(30000));
  // xdotool, throwing unless it succeeded.
  void xdotoolOk(const std::vector<std::string>& args, Ms timeout = Ms(30000));
  // Visible windows whose title matches the regular expression.
  std::vector<std::string> visibleWindows(const std::string& titleRegex);
  // The window's own area (the client area: the window manager's frame is outside), placed on
  // the screen.
  Box windowGeometry(const std::string& window);
  int screenWidth() const { return screenWidth_; }
  int screenHeight() const { return screenHeight_; }

  // Sets the screen's resource database (RESOURCE_MANAGER, what xrdb loads), e.g. "Xft.dpi: 144".
  void setResources(const std::string& resources);

  // Ends the window manager and the X server now, as a crash or a logout would.
  void endServer();

  // Screenshots until two in a row agree and show more than one colour: drawn and settled.
  // The last is kept as artifacts/<name>.png.
  std::optional<Image> settledScreenshot(const std::string& window, const std::string& name,
                                         Ms timeout);

 private:
  Image capture(const std::string& window, const std::string& png);
  static void keep(const std::string& png, const std::string& name);

  std::unique_ptr<Process> xvfb_;
  std::unique_ptr<Process> wm_;
  std::string display_;
  int screenWidth_;
  int screenHeight_;
};

// PIDs of processes other than this one with a descriptor open on the character device `rdev`.
std::vector<pid_t> holdersOf(dev_t rdev);
// What each thread of the process is waiting in, for a report on a program that hangs.
std::string threadStates(pid_t pid);
// Number of descriptors the process has open, or -1 when it cannot be read.
int descriptorCount(pid_t pid);

bool sameTermios(const termios& a, const termios& b);
// A setting no program configuring a printer line would leave behind, so any change shows.
termios sentinelTermios();

// Joins process IDs for messages.
std::string joinPids(const std::vector<pid_t>& pids);

}  // namespace e2e
