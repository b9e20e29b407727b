// The FLTK build, run in a private /dev where the test's pty is /dev/ttyS0.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "posix/unique_fd.h"
#include "tests/e2e/target.h"
#include "tools/private_dev.h"

namespace e2e {
namespace {

class FlockHold : public PortHold {
 public:
  explicit FlockHold(posix::UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  posix::UniqueFd fd_;
};

class NativeTarget : public TargetBase {
 public:
  NativeTarget() {
    if ((fault_ = missingTools())) return;
    if (::access(PROJECT1_NATIVE, X_OK) != 0) {
      fault_ = std::string("no program at ") + PROJECT1_NATIVE;
      return;
    }
    if (!tools::canMakePrivateDev()) {
      unavailable_ = "no mount namespaces here, and the program may only run in a private /dev";
      return;
    }
    x_ = std::make_unique<XSession>();
    line_ = std::make_unique<testing_support::PtyPair>();
    struct stat st {};
    if (::fstat(line_->slave(), &st) != 0) throw std::runtime_error("fstat on the pty failed");
    lineDevice_ = st.st_rdev;
    // The program refuses a port another process has open, and ours would count.
    line_->parkSlave();
  }

  std::string name() const override { return "native"; }

  std::unique_ptr<Process> start(Port port, const EnvChanges& env) override {
    Process::Options options;
    options.env = {{"DISPLAY", x_->display()}};
    options.env.insert(options.env.end(), env.begin(), env.end());
    options.inChild = inPrivateDev(
        port == Port::Line ? std::optional(line_->slavePath()) : std::nullopt, lineDevice_);
    return std::make_unique<Process>(std::vector<std::string>{PROJECT1_NATIVE}, options,
                                     "Project1");
  }

  std::unique_ptr<PortHold> holdPort(std::string* whyNot) override {
    posix::UniqueFd fd(
        ::open(line_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      *whyNot = "could not lock the pty";
      return nullptr;
    }
    return std::make_unique<FlockHold>(std::move(fd));
  }

  int burstClicks() const override { return 1000; }
  bool countsDescriptors() const override { return true; }

 private:
  dev_t lineDevice_ = 0;
};

}  // namespace

std::unique_ptr<Target> makeTarget() { return std::make_unique<NativeTarget>(); }

}  // namespace e2e
