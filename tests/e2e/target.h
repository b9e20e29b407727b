#pragma once

// One build of Project1 and the world it runs in: an X server, and a pty that stands in for
// port 1. Each end-to-end executable defines makeTarget() for its build.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "tests/e2e/harness.h"
#include "tests/support/pty_pair.h"

namespace e2e {

// What the program finds at port 1 when it starts.
enum class Port {
  Line,     // the pty
  Missing,  // nothing at all
};

// Another program holding port 1 open for as long as this lives.
class PortHold {
 public:
  virtual ~PortHold() = default;
};

class Target {
 public:
  virtual ~Target() = default;

  virtual std::string name() const = 0;  // "native", "wine": prefixes artifact names
  // Why the tests cannot run here; `skipOnly` says whether that is a skip rather than a fault.
  virtual std::optional<std::string> unavailable(bool* skipOnly) const = 0;

  virtual XSession& x() = 0;
  virtual testing_support::PtyPair& line() = 0;

  // Starts the program with DISPLAY on the X server; `env` changes come on top.
  virtual std::unique_ptr<Process> start(Port port, const EnvChanges& env = {}) = 0;
  // Another program holding port 1, or nullptr with the reason in `whyNot`.
  virtual std::unique_ptr<PortHold> holdPort(std::string* whyNot) = 0;

  // Clicks in the long run of clicks.
  virtual int burstClicks() const = 0;
  // Whether the program's own descriptors can be watched (not under Wine, whose server holds
  // the devices).
  virtual bool countsDescriptors() const = 0;
};

// What both targets hold: the X server and the pty, made once they can run, and why not.
class TargetBase : public Target {
 public:
  std::optional<std::string> unavailable(bool* skipOnly) const override {
    *skipOnly = !fault_ && unavailable_ && skipOnly_;
    return fault_ ? fault_ : unavailable_;
  }
  XSession& x() override { return *x_; }
  testing_support::PtyPair& line() override { return *line_; }

 protected:
  // For a child about to become a program under test: a private /dev where /dev/ttyS0 is the
  // test's pty `ttyS0` (device `rdev`), or missing; checked there, since the program must reach
  // nothing else.
  static std::function<void()> inPrivateDev(std::optional<std::string> ttyS0, dev_t rdev);

  std::optional<std::string> fault_;        // a fault: the tests fail
  std::optional<std::string> unavailable_;  // not here: the tests skip, unless not skipOnly_
  bool skipOnly_ = true;
  std::unique_ptr<XSession> x_;
  std::unique_ptr<testing_support::PtyPair> line_;
};

// Made once per test executable, before the first test; throws only for what is a fault.
std::unique_ptr<Target> makeTarget();

// The executable's target, made by the global test environment.
Target& target();

}  // namespace e2e
