// A Windows build under Wine, with COM1 mapped to the test's pty. CTest names the build in the
// environment: E2E_WINEARCH (win32 or win64), E2E_WINDOWS_DIR (the build tree with
// com1_probe.exe and the Wine prefix) and E2E_WINDOWS_EXE (the exe with the flags of the one
// that ships); the 32-bit build is skipped where this machine cannot run 32-bit programs.
//
// Every Wine process here (and so the wineserver, which opens the devices) runs in a private
// /dev without serial devices: Wine's own scan for ports finds none of this machine's, and a
// wrong mapping can reach nothing real. COM1 is checked to point at the pty before the program
// starts, and points at a path that does not exist when the tests are done.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "posix/unique_fd.h"
#include "tests/e2e/project1_fixture.h"
#include "tests/e2e/target.h"
#include "tools/private_dev.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// Where COM1 points when no test uses it; also the port that is missing.
const std::string kNowhere = "/nonexistent/com1";

bool requireWindows() {
  const char* v = std::getenv("PROJECT1_REQUIRE_WINDOWS");
  return v && std::string(v) == "1";
}

std::string readLink(const std::string& path) {
  std::error_code ec;
  const auto target = std::filesystem::read_symlink(path, ec);
  return ec ? std::string() : target.string();
}

std::string fromEnv(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// The exe the tests run: the release build's, unless PROJECT1_WINDOWS_EXE names another (the
// debug build's, to find a fault with its symbols).
std::string exeUnderTest() {
  const std::string chosen = fromEnv("PROJECT1_WINDOWS_EXE");
  return chosen.empty() ? fromEnv("E2E_WINDOWS_EXE") : chosen;
}

class ProcessHold : public PortHold {
 public:
  explicit ProcessHold(std::unique_ptr<Process> holder) : holder_(std::move(holder)) {}
  ~ProcessHold() override { holder_->stop(); }

 private:
  std::unique_ptr<Process> holder_;
};

class WineTarget : public TargetBase {
 public:
  WineTarget()
      : arch_(fromEnv("E2E_WINEARCH")),
        dir_(fromEnv("E2E_WINDOWS_DIR")),
        exe_(exeUnderTest()),
        probe_(dir_ + "/com1_probe.exe"),
        prefix_(dir_ + "/wineprefix") {
    // What is not here fails the tests where Windows is required, and always is a skip when
    // this machine cannot run 32-bit programs.
    skipOnly_ = !requireWindows();
    if (arch_.empty() || dir_.empty() || exe_.empty()) {
      fault_ = "E2E_WINEARCH, E2E_WINDOWS_DIR and E2E_WINDOWS_EXE name the build (CTest sets them)";
      return;
    }
    if ((fault_ = missingTools())) return;
    for (const char* tool : {E2E_WINE, E2E_WINESERVER}) {
      if (std::string(tool).empty() || ::access(tool, X_OK) != 0) {
        fault_ = "wine was not found when the build was configured (scripts/deps installs it)";
        return;
      }
    }
    if (arch_ == "win32") {
      // Not a fault where the machine cannot: the 64-bit build carries the tests there.
      const RunResult can = run({std::string(PROJECT1_SOURCE_DIR) + "/tests/win32/can-run-32-bit"});
      if (can.status.code() != 0) {
        unavailable_ = "32-bit Windows: " + can.out.substr(0, can.out.find('\n'));
        skipOnly_ = skipOnly_ || can.status.code() == 1;
        return;
      }
    }
    if (::access(exe_.c_str(), R_OK) != 0) {
      const std::string preset = arch_ == "win64" ? "windows64-release" : "windows-release";
      unavailable_ = "no Windows exe at " + exe_ + " (cmake --preset " + preset +
                     " && cmake --build --preset " + preset + " --target Project1)";
      return;
    }
    if (!tools::canMakePrivateDev()) {
      unavailable_ = "no mount namespaces here, and Wine may only run in a private /dev";
      return;
    }
    // Another run of these tests (another build tree, say) would remap COM1 under this one.
    const std::string lockPath = prefix_ + ".e2e-lock";
    lock_ = posix::UniqueFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock_ ||
        !waitFor([&] { return ::flock(lock_.get(), LOCK_EX | LOCK_NB) == 0; }, 300s, 200ms)) {
      throw std::runtime_error("another run holds " + lockPath);
    }
    if (::access((prefix_ + "/system.reg").c_str(), R_OK) != 0) {
      const std::string setup = std::string(PROJECT1_SOURCE_DIR) + "/tests/win32/setup-wine-prefix";
      // Its scan for ports finds none either.
      runOk(inWineEnv({setup, prefix_}), wineOptions(), 300s);
    }
    x_ = std::make_unique<XSession>();
    line_ = std::make_unique<testing_support::PtyPair>();
    try {
      mapCom1(line_->slavePath());
    } catch (...) {
      // The registry may already name the pty: never leave it so.
      mapCom1(kNowhere);
      throw;
    }
  }

  ~WineTarget() override {
    if (!x_) return;
    try {
      if (mapped_ != kNowhere) mapCom1(kNowhere);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "COM1 could not be pointed away from the pty: " << e.what();
    }
    try {
      // No Wine process outlives the X server it draws on.
      run(inWineEnv({E2E_WINESERVER, "-k"}), wineOptions(), 30s);
      run(inWineEnv({E2E_WINESERVER, "-w"}), wineOptions(), 30s);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "ending the wineserver: " << e.what();
    }
  }

  std::string name() const override { return arch_ == "win64" ? "wine64" : "wine"; }

  std::unique_ptr<Process> start(Port port, const EnvChanges& env) override {
    mapCom1IfNeeded(port == Port::Line ? line_->slavePath() : kNowhere);
    Process::Options options = wineOptions();
    options.env.insert(options.env.end(), env.begin(), env.end());
    return std::make_unique<Process>(withWine({exe_}), options, "Project1.exe");
  }

  std::unique_ptr<PortHold> holdPort(std::string* whyNot) override {
    if (::access(probe_.c_str(), R_OK) != 0) {
      *whyNot = "no " + probe_ + " to hold COM1 with";
      return nullptr;
    }
    mapCom1IfNeeded(line_->slavePath());
    auto holder =
        std::make_unique<Process>(withWine({probe_, "hold", "300"}), wineOptions(), "com1_probe");
    const bool held = waitFor(
        [&] { return holder->out().find("held") != std::string::npos || !holder->running(); }, 30s,
        50ms);
    if (!held || !holder->running()) {
      *whyNot = "com1_probe.exe did not hold COM1: " + holder->out() + holder->err();
      return nullptr;
    }
    // Windows' serial driver lets one program in at a time; Wine checks sharing for files only.
    const RunResult second = run(withWine({probe_, "lines"}), wineOptions(), 60s);
    if (!holder->running()) {
      throw std::runtime_error("com1_probe.exe stopped holding COM1: " + holder->out() +
                               holder->err());
    }
    if (second.status.code() == 0) {
      *whyNot =
          "under this Wine a second program opens COM1 while com1_probe.exe holds it, "
          "so a port in use cannot be staged";
      return nullptr;
    }
    return std::make_unique<ProcessHold>(std::move(holder));
  }

  // com1_probe with `args`, COM1 on the line.
  std::unique_ptr<Process> probe(const std::vector<std::string>& args) {
    mapCom1IfNeeded(line_->slavePath());
    std::vector<std::string> argv{probe_};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Process>(withWine(argv), wineOptions(), "com1_probe");
  }

  // Wine keeps up with xdotool's pace as the native program does: the full count.
  int burstClicks() const override { return 1000; }
  // The wineserver, not the program, holds the devices' descriptors.
  bool countsDescriptors() const override { return false; }

 private:
  // `argv` in the build's prefix, in the Wine environment all tests and scripts share.
  std::vector<std::string> inWineEnv(std::vector<std::string> argv, bool loader = false) const {
    std::vector<std::string> env{std::string(PROJECT1_SOURCE_DIR) + "/tests/tools/wine-env",
                                 "--prefix", prefix_, "--arch", arch_};
    if (loader) env.push_back("--wine");
    argv.insert(argv.begin(), env.begin(), env.end());
    return argv;
  }
  // A Windows program, with the loader for the prefix's word size.
  std::vector<std::string> withWine(std::vector<std::string> argv) const {
    return inWineEnv(std::move(argv), true);
  }

  Process::Options wineOptions() const {
    Process::Options options;
    options.workDir = dir_;
    if (x_) options.env.emplace_back("DISPLAY", x_->display());
    options.inChild = inPrivateDev(std::nullopt, 0);
    return options;
  }

  // Points COM1 at `path`; the wineserver has to start again for Wine to follow.
  void mapCom1(const std::string& path) {
    mapped_.clear();
    Process::Options options = wineOptions();
    options.env.emplace_back("WINESERVER", E2E_WINESERVER);
    runOk(inWineEnv({std::string(PROJECT1_SOURCE_DIR) + "/tests/tools/wine-com1", path}), options,
          300s);
    const std::string link = readLink(prefix_ + "/dosdevices/com1");
    if (link != path) {
      throw std::runtime_error("COM1 points at '" + link + "', not " + path);
    }
    mapped_ = path;
  }

  // Refuses to go on unless COM1 is exactly where it should be.
  void mapCom1IfNeeded(const std::string& path) {
    if (mapped_ != path) mapCom1(path);
    struct stat st {};
    if (path == kNowhere && ::stat(kNowhere.c_str(), &st) == 0) {
      throw std::runtime_error(kNowhere + " exists; it cannot stand for a missing port");
    }
    const std::string link = readLink(prefix_ + "/dosdevices/com1");
    if (link != path) {
      throw std::runtime_error("COM1 points at '" + link + "', not " + path + "; not starting");
    }
  }

  std::string arch_, dir_, exe_, probe_, prefix_;
  posix::UniqueFd lock_;  // held until COM1 points nowhere again
  std::string mapped_;
};

// The Windows device itself on the pty, driven by com1_probe.
class WineDevice : public Project1 {
 protected:
  WineTarget& wine() { return static_cast<WineTarget&>(t()); }
};

// A pseudo-terminal frees room as its reader goes on, but does not wake a writer that waits
// for it: under Wine a write call then waits out its whole time. A line that is still moving
// must not be taken for one that stopped.
TEST_F(WineDevice, ALineThatFreesRoomWithoutWakingTheWriterStillTakesTheWholeReceipt) {
  // Filled to its last small buffer, a pty makes room again only after far more reading than
  // a slow reader does in the time a stopped printer is given.
  const std::size_t filled = fillLine(Fill::Blocks);
  ASSERT_GT(filled, 0u);
  const auto probe = wine().probe({"write"});
  // The probe has the port, and its write waits on the full line...
  ASSERT_TRUE(waitFor([&] { return !holdersOf(lineDevice_).empty() || !probe->running(); }, 60s));
  std::this_thread::sleep_for(1s);
  // ...when the far side starts reading, slowly: a byte every 2 ms.
  std::atomic<bool> stop{false};
  std::string came;
  std::thread reader([&] {
    while (!stop) {
      came += line().read(1, 10ms);
      std::this_thread::sleep_for(2ms);
    }
  });
  const auto status = probe->waitExit(60s);
  stop = true;
  reader.join();
  came += line().readUntilQuiet(300ms);
  ASSERT_TRUE(status) << "com1_probe did not end";
  EXPECT_EQ(status->describe(), "exit code 0") << probe->out() << probe->err();
  EXPECT_TRUE(fillerThenGoldenJob(came, filled));
}

}  // namespace

std::unique_ptr<Target> makeTarget() { return std::make_unique<WineTarget>(); }

}  // namespace e2e
