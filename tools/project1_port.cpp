// project1-port: runs Project1 with a chosen serial device standing in for serial port 1
// (/dev/ttyS0). Project1 always opens port 1; on Linux no setting renumbers ports, so the
// device is bound on /dev/ttyS0 in a private /dev seen by Project1 alone.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/namespace_advice.h"
#include "tools/port_device.h"
#include "tools/private_dev.h"

namespace {

constexpr const char* kUsage =
    "Usage: project1-port DEVICE\n"
    "       project1-port DEVICE PROGRAM [ARG...]\n"
    "\n"
    "Runs Project1 with DEVICE as its serial port 1 (/dev/ttyS0), for a printer on a\n"
    "USB-serial adapter or on any port other than the first. Only Project1 sees the\n"
    "change; the rest of the system, and the real /dev/ttyS0, are left alone.\n"
    "\n"
    "DEVICE is a serial port such as /dev/ttyUSB0, /dev/ttyACM0 or /dev/ttyS1. The names\n"
    "under /dev/serial/by-id/ stay the same whichever USB socket the adapter is in:\n"
    "  project1-port /dev/ttyUSB0\n"
    "  project1-port /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\n"
    "List the adapters with: ls -l /dev/serial/by-id/\n"
    "The user needs the dialout group to use the port: sudo adduser $USER dialout,\n"
    "then log in again.\n"
    "\n"
    "With PROGRAM, runs that program instead of Project1. DEVICE - leaves port 1 missing.\n";

void say(const std::string& text) {
  (void)std::fprintf(stderr, "project1-port: %s\n", text.c_str());
}

// The device itself, and the link it was given by.
std::string shown(const tools::PathFacts& facts) {
  if (facts.resolved.empty() || facts.resolved == facts.path) return facts.path;
  return facts.resolved + " (from " + facts.path + ")";
}

// Project1 installed or built beside this tool; else whichever PATH finds.
std::string project1() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const auto beside = self.parent_path() / "Project1";
    if (::access(beside.c_str(), X_OK) == 0) return beside;
  }
  return "Project1";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
    (void)std::fputs(kUsage, stdout);
    return 0;
  }
  if (args.empty() || (args[0].size() > 1 && args[0][0] == '-')) {
    if (!args.empty()) say("unknown option " + args[0]);
    (void)std::fputs(kUsage, stderr);
    return 2;
  }

  std::vector<std::string> command(args.begin() + 1, args.end());
  if (command.empty()) command.push_back(project1());

  // Taken now: inside the user namespace this user is root.
  const bool root = ::geteuid() == 0;
  try {
    if (args[0] == "-") {
      tools::enterPrivateDev(std::nullopt);
    } else {
      const tools::PathFacts facts = tools::examinePath(args[0]);
      const tools::PortVerdict verdict = tools::judgePortDevice(facts, "/sys");
      if (!verdict.usable) {
        say(verdict.text);
        return 1;
      }
      tools::enterPrivateDevWithPort(facts.resolved.empty() ? facts.path : facts.resolved,
                                     facts.rdev);
      // The one line that tells which device the program's texts about port 1 are about.
      say(shown(facts) + ", " + verdict.text + ", stands in for port 1 (/dev/ttyS0)");
    }
  } catch (const std::exception& e) {
    // Users get the namespace from an unprivileged user namespace, which some systems restrict.
    std::string text = std::string("cannot give the program a /dev of its own (") + e.what() + ")";
    if (!root) {
      if (const auto advice = tools::namespaceAdvice(
              "/proc/sys", ::access(tools::kAppArmorProfile, F_OK) == 0, tools::appArmorLabel())) {
        text += ": " + *advice;
      }
    }
    say(text);
    return 1;
  }

  std::vector<char*> argvOut;
  argvOut.reserve(command.size() + 1);
  for (auto& word : command) argvOut.push_back(word.data());
  argvOut.push_back(nullptr);
  ::execvp(argvOut[0], argvOut.data());
  say("cannot run " + command[0]);
  return 127;
}
