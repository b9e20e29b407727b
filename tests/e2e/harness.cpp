#include "tests/e2e/harness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

namespace e2e {
namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A descriptor well above 0-2, so the child's dup2 calls cannot clobber one another.
int highCopy(int fd) {
  const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, 10);
  if (high < 0) fail(errnoText("fcntl F_DUPFD_CLOEXEC"));
  return high;
}

int openHigh(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) fail(errnoText("open " + path));
  const int high = highCopy(fd);
  ::close(fd);
  return high;
}

std::vector<std::string> childEnvironment(const EnvChanges& changes) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const auto eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value) {
      vars[name] = *value;
    } else {
      vars.erase(name);
    }
  }
  std::vector<std::string> out;
  out.reserve(vars.size());
  for (const auto& [name, value] : vars) out.push_back(std::string(name).append("=").append(value));
  return out;
}

// Writes straight to the descriptor: all a forked child may safely do before exec.
void childSays(const char* text) {
  const std::size_t length = std::strlen(text);
  if (::write(2, text, length) < 0) return;
}

std::string basename(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string artifactsDir() {
  static const std::string dir = [] {
    // A run as another user (as-unprivileged) keeps its own, where that user may write.
    const char* given = std::getenv("E2E_ARTIFACTS_DIR");
    std::string path = given && *given ? given : E2E_ARTIFACTS_DIR;
    std::filesystem::create_directories(path);
    return path;
  }();
  return dir;
}

std::string logDir() {
  static const std::string dir = [] {
    std::string path = artifactsDir() + "/logs/" + program_invocation_short_name + "." +
                       std::to_string(::getpid());
    std::filesystem::create_directories(path);
    return path;
  }();
  return dir;
}

void removeLogDir() {
  std::error_code ignored;
  std::filesystem::remove_all(logDir(), ignored);
}

bool ExitStatus::exited() const { return WIFEXITED(raw); }
int ExitStatus::code() const { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }
bool ExitStatus::signaled() const { return WIFSIGNALED(raw); }
std::string ExitStatus::describe() const {
  if (exited()) return "exit code " + std::to_string(code());
  if (signaled()) {
    return "signal " + std::to_string(WTERMSIG(raw)) + " (" + strsignal(WTERMSIG(raw)) + ")";
  }
  return "wait status " + std::to_string(raw);
}

Process::Process(const std::vector<std::string>& argv, const Options& options,
                 const std::string& label) {
  static std::atomic<int> counter{0};
  label_ = label;
  const std::string base = logDir() + "/" + std::to_string(++counter) + "-" + label;
  outPath_ = base + ".out";
  errPath_ = base + ".err";

  // Everything the child needs is made here: after fork it only calls what is safe there.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::vector<std::string> envStrings = childEnvironment(options.env);
  std::vector<char*> env;
  env.reserve(envStrings.size() + 1);
  for (const auto& e : envStrings) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);

  const int in = openHigh("/dev/null", O_RDONLY);
  const int out = openHigh(outPath_, O_WRONLY | O_CREAT | O_TRUNC);
  const int err = openHigh(errPath_, O_WRONLY | O_CREAT | O_TRUNC);
  const int pass = options.passFd >= 0 ? highCopy(options.passFd) : -1;

  pid_ = ::fork();
  if (pid_ == 0) {
    if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
        (pass >= 0 && ::dup2(pass, 3) < 0)) {
      ::_exit(126);
    }
    // Nothing of ours, above all no pty, reaches the helper.
    ::close_range(pass >= 0 ? 4 : 3, ~0U, 0);
    if (!options.workDir.empty() && ::chdir(options.workDir.c_str()) != 0) {
      childSays("e2e harness: chdir failed\n");
      ::_exit(126);
    }
    if (options.inChild) {
      try {
        options.inChild();
      } catch (const std::exception& e) {
        childSays("e2e harness: ");
        childSays(e.what());
        childSays("\n");
        ::_exit(126);
      }
    }
    ::execve(args[0], args.data(), env.data());
    childSays("e2e harness: exec failed\n");
    ::_exit(127);
  }
  const int forkErrno = errno;
  for (int fd : {in, out, err, pass}) {
    if (fd >= 0) ::close(fd);
  }
  if (pid_ < 0) {
    errno = forkErrno;
    fail(errnoText("fork"));
  }
}

Process::~Process() { stop(); }

bool Process::running() {
  if (status_ || pid_ <= 0) return false;
  int raw = 0;
  const pid_t r = ::waitpid(pid_, &raw, WNOHANG);
  if (r == pid_) status_ = ExitStatus{raw};
  return !status_;
}

std::optional<ExitStatus> Process::waitExit(Ms timeout) {
  waitFor([&] { return !running(); }, timeout, Ms(10));
  return status_;
}

void Process::stop(Ms grace) {
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  if (waitExit(grace)) return;
  ::kill(pid_, SIGKILL);
  int raw = 0;
  while (::waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  status_ = ExitStatus{raw};
}

std::string Process::out() const { return readFile(outPath_); }
std::string Process::err() const { return readFile(errPath_); }

RunResult run(const std::vector<std::string>& argv, const Process::Options& options, Ms timeout) {
  Process p(argv, options, basename(argv.at(0)));
  const auto status = p.waitExit(timeout);
  if (!status) {
    p.stop();
    fail(argv[0] + " did not finish within " + std::to_string(timeout.count()) + " ms");
  }
  return {*status, p.out(), p.err()};
}

std::string runOk(const std::vector<std::string>& argv, const Process::Options& options,
                  Ms timeout) {
  RunResult r = run(argv, options, timeout);
  if (!r.status.exited() || r.status.code() != 0) {
    std::string command;
    for (const auto& a : argv) command += (command.empty() ? "" : " ") + a;
    fail(command + ": " + r.status.describe() + ": " + r.err);
  }
  return r.out;
}

const Tools& tools() {
  static const Tools t{E2E_XVFB, E2E_OPENBOX, E2E_XDOTOOL, E2E_IMPORT, E2E_CONVERT};
  return t;
}

std::optional<std::string> missingTools() {
  const Tools& t = tools();
  for (const auto& [name, path] : {std::pair{"Xvfb", t.xvfb},
                                   {"openbox", t.openbox},
                                   {"xdotool", t.xdotool},
                                   {"import (ImageMagick)", t.import},
                                   {"convert (ImageMagick)", t.convert}}) {
    if (path.empty() || ::access(path.c_str(), X_OK) != 0) {
      return std::string(name) + " was not found when the build was configured (scripts/deps " +
             "installs it; then configure again)";
    }
  }
  return std::nullopt;
}

std::uint32_t Image::at(int x, int y) const {
  const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                         static_cast<std::size_t>(x)) *
                        3;
  return (std::uint32_t{rgb[i]} << 16) | (std::uint32_t{rgb[i + 1]} << 8) | rgb[i + 2];
}

Image parsePpm(const std::string& bytes) {
  std::size_t pos = 0;
  const auto token = [&]() {
    for (;;) {
      while (pos < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
      if (pos < bytes.size() && bytes[pos] == '#') {
        while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
        continue;
      }
      break;
    }
    const std::size_t start = pos;
    while (pos < bytes.size() && !std::isspace(static_cast<unsigned char>(bytes[pos]))) ++pos;
    return bytes.substr(start, pos - start);
  };
  if (token() != "P6") fail("not a binary PPM");
  Image image;
  image.width = std::stoi(token());
  image.height = std::stoi(token());
  if (std::stoi(token()) != 255) fail("PPM is not 8 bits a channel");
  ++pos;  // the one whitespace byte before the pixels
  const std::size_t size =
      static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3;
  if (bytes.size() < pos + size) fail("PPM is cut short");
  image.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                   bytes.begin() + static_cast<std::ptrdiff_t>(pos + size));
  return image;
}

std::uint32_t dominantColor(const Image& image) {
  std::unordered_map<std::uint32_t, int> counts;
  std::uint32_t best = 0;
  int bestCount = -1;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const int n = ++counts[image.at(x, y)];
      if (n > bestCount) {
        bestCount = n;
        best = image.at(x, y);
      }
    }
  }
  return best;
}

std::optional<Box> boundingBoxOfOthers(const Image& image, std::uint32_t background) {
  int left = image.width, top = image.height, right = -1, bottom = -1;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.at(x, y) == background) continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right < 0) return std::nullopt;
  return Box{left, top, right - left + 1, bottom - top + 1};
}

int textLines(const Image& image) {
  int lines = 0;
  bool previous = false;
  for (int y = 0; y < image.height; ++y) {
    int black = 0;
    for (int x = 0; x < image.width; ++x) {
      const std::uint32_t c = image.at(x, y);
      if (((c >> 16) & 0xFF) < 96 && ((c >> 8) & 0xFF) < 96 && (c & 0xFF) < 96) ++black;
    }
    const bool text = black >= 3;  // a frame's dark edge is one pixel a row
    if (text && !previous) ++lines;
    previous = text;
  }
  return lines;
}

int emptyGlyphBoxes(const Image& image) {
  // Dark against the toolkit's grey (0xC0): a box's thin lines are drawn anti-aliased, grey.
  const auto dark = [&](int x, int y) {
    const std::uint32_t c = image.at(x, y);
    return std::max({(c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF}) < 160;
  };
  const auto w = static_cast<std::size_t>(image.width);
  std::vector<int> label(w * static_cast<std::size_t>(image.height), -1);
  const auto at = [&](int x, int y) -> int& {
    return label[static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)];
  };
  int boxes = 0;
  int next = 0;
  for (int y0 = 0; y0 < image.height; ++y0) {
    for (int x0 = 0; x0 < image.width; ++x0) {
      if (!dark(x0, y0) || at(x0, y0) >= 0) continue;
      // One shape: the dark pixels touching each other, corners too.
      const int id = next++;
      std::vector<std::pair<int, int>> shape{{x0, y0}};
      at(x0, y0) = id;
      for (std::size_t i = 0; i < shape.size(); ++i) {
        const auto [x, y] = shape[i];
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
            if (!dark(nx, ny) || at(nx, ny) >= 0) continue;
            at(nx, ny) = id;
            shape.emplace_back(nx, ny);
          }
        }
      }
      int left = image.width, right = -1, top = image.height, bottom = -1;
      for (const auto& [x, y] : shape) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
      const int width = right - left + 1, height = bottom - top + 1;
      if (width < 3 || height < 7 || height > 60) continue;
      // A closed outline: top and bottom rows drawn across, the first and last columns down;
      // inside, nothing but more such columns (the boxes of letters side by side).
      std::vector<int> column(static_cast<std::size_t>(width), 0);
      int topRow = 0, bottomRow = 0;
      for (const auto& [x, y] : shape) {
        ++column[static_cast<std::size_t>(x - left)];
        topRow += y == top;
        bottomRow += y == bottom;
      }
      const auto full = [&](int x) {
        return column[static_cast<std::size_t>(x - left)] * 5 >= height * 4;
      };
      if (!full(left) || !full(right) || topRow * 5 < width * 4 || bottomRow * 5 < width * 4) {
        continue;
      }
      const bool outline = std::all_of(shape.begin(), shape.end(), [&](const auto& p) {
        return p.second == top || p.second == bottom || full(p.first);
      });
      if (outline) ++boxes;
    }
  }
  return boxes;
}

XSession::XSession(int screenWidth, int screenHeight)
    : screenWidth_(screenWidth), screenHeight_(screenHeight) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) fail(errnoText("pipe"));
  // -displayfd: the server picks a free display and says which once it accepts clients.
  try {
    xvfb_ = std::make_unique<Process>(
        std::vector<std::string>{
            tools().xvfb, "-displayfd", "3", "-screen", "0",
            std::to_string(screenWidth) + "x" + std::to_string(screenHeight) + "x24", "-nolisten",
            "tcp", "-noreset"},
        [&] {
          Process::Options options;
          options.passFd = fds[1];
          return options;
        }(),
        "Xvfb");
  } catch (...) {
    ::close(fds[0]);
    ::close(fds[1]);
    throw;
  }
  ::close(fds[1]);
  std::string number;
  const auto deadline = Clock::now() + Ms(20000);
  while (number.find('\n') == std::string::npos && Clock::now() < deadline) {
    pollfd p{fds[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[32];
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    number.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    fail("Xvfb did not start: " + xvfb_->err());
  }
  display_ = ":" + number.substr(0, number.find('\n'));

  // Alt+F4 closes and new windows get the focus; no mouse bindings, so openbox grabs no
  // button on the windows: its grab-and-replay of clicks loses one now and then in a fast run.
  const std::string config = logDir() + "/openbox-rc.xml";
  std::ofstream(config) << R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <keyboard><keybind key="A-F4"><action name="Close"/></keybind></keyboard>
  <mouse></mouse>
</openbox_config>
)";
  wm_ = std::make_unique<Process>(
      std::vector<std::string>{tools().openbox, "--sm-disable", "--config-file", config},
      Process::Options::withEnv({{"DISPLAY", display_}}), "openbox");
  // The window manager runs once it answers for the desktops it manages.
  const bool managed =
      waitFor([&] { return wm_->running() && xdotool({"get_num_desktops"}).status.code() == 0; },
              Ms(20000), Ms(50));
  if (!managed) fail("openbox did not start on " + display_ + ": " + wm_->err());
}

XSession::~XSession() { endServer(); }

void XSession::endServer() {
  wm_.reset();
  xvfb_.reset();
}

void XSession::setResources(const std::string& resources) {
  Display* display = XOpenDisplay(display_.c_str());
  if (!display) fail("cannot open " + display_);
  XChangeProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, XA_STRING, 8,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(resources.data()),
                  static_cast<int>(resources.size()));
  XSync(display, False);
  XCloseDisplay(display);
}

RunResult XSession::xdotool(const std::vector<std::string>& args, Ms timeout) {
  std::vector<std::string> argv{tools().xdotool};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, Process::Options::withEnv({{"DISPLAY", display_}}), timeout);
}

void XSession::xdotoolOk(const std::vector<std::string>& args, Ms timeout) {
  const RunResult r = xdotool(args, timeout);
  if (r.status.code() != 0) {
    std::string command = "xdotool";
    for (const auto& a : args) command += " " + a;
    fail(command + ": " + r.status.describe() + ": " + r.err);
  }
}

std::vector<std::string> XSession::visibleWindows(const std::string& titleRegex) {
  const RunResult r = xdotool({"search", "--onlyvisible", "--name", titleRegex});
  std::vector<std::string> windows;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) windows.push_back(line);
  }
  return windows;
}

Box XSession::windowGeometry(const std::string& window) {
  const RunResult r = xdotool({"getwindowgeometry", "--shell", window});
  Box box{-1, -1, -1, -1};
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    int* field = key == "X"        ? &box.x
                 : key == "Y"      ? &box.y
                 : key == "WIDTH"  ? &box.width
                 : key == "HEIGHT" ? &box.height
                                   : nullptr;
    if (field) *field = std::stoi(line.substr(eq + 1));
  }
  return box;
}

Image XSession::capture(const std::string& window, const std::string& png) {
  const auto options = Process::Options::withEnv({{"DISPLAY", display_}});
  runOk({tools().import, "-window", window, png}, options);
  return parsePpm(runOk({tools().convert, png, "-depth", "8", "ppm:-"}, options));
}

void XSession::keep(const std::string& png, const std::string& name) {
  // Copied and renamed into place: tests running side by side may keep the same name.
  const std::string kept = artifactsDir() + "/" + name + ".png";
  const std::string partial = kept + "." + std::to_string(::getpid());
  std::filesystem::copy_file(png, partial, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::rename(partial, kept);
}

std::optional<Image> XSession::settledScreenshot(const std::string& window, const std::string& name,
                                                 Ms timeout) {
  const std::string png = logDir() + "/" + name + ".png";
  std::optional<Image> previous;
  std::optional<Image> settled;
  waitFor(
      [&] {
        Image now = capture(window, png);
        const bool drawn = boundingBoxOfOthers(now, dominantColor(now)).has_value();
        if (drawn && previous && now == *previous) {
          settled = std::move(now);
        } else {
          previous = std::move(now);
        }
        return settled.has_value();
      },
      timeout, Ms(50));
  if (settled) keep(png, name);
  return settled;
}

std::vector<pid_t> holdersOf(dev_t rdev) {
  std::vector<pid_t> holders;
  const pid_t self = ::getpid();
  DIR* proc = ::opendir("/proc");
  if (!proc) fail(errnoText("opendir /proc"));
  while (const dirent* p = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(p->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self) continue;
    const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (!fds) continue;  // gone, or a kernel thread
    while (const dirent* f = ::readdir(fds)) {
      if (f->d_name[0] == '.') continue;
      struct stat st {};
      if (::stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
          st.st_rdev == rdev) {
        holders.push_back(static_cast<pid_t>(pid));
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return holders;
}

std::string threadStates(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  std::string out;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    const std::string dir = task.path().string();
    std::string comm = readFile(dir + "/comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    out += (out.empty() ? "" : ", ") + comm + " in " + readFile(dir + "/wchan");
  }
  return out.empty() ? "no threads to be seen" : out;
}

int descriptorCount(pid_t pid) {
  DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (!dir) return -1;
  int count = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count;
}

bool sameTermios(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         ::cfgetispeed(&a) == ::cfgetispeed(&b) && ::cfgetospeed(&a) == ::cfgetospeed(&b);
}

termios sentinelTermios() {
  termios t{};
  ::cfmakeraw(&t);
  // A pty keeps neither a character size but 8 nor parity; two stop bits and 1200 baud it keeps.
  t.c_cflag |= CSTOPB | CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B1200);
  ::cfsetospeed(&t, B1200);
  return t;
}

std::string joinPids(const std::vector<pid_t>& pids) {
  std::string out;
  for (pid_t p : pids) out += (out.empty() ? "" : " ") + std::to_string(p);
  return out.empty() ? "none" : out;
}

}  // namespace e2e
