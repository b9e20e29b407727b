// project1-port: runs Project1 with a chosen serial device standing in for serial port 1
// (/dev/ttyS0). Project1 always opens port 1; on Linux no setting renumbers ports, so the
// device is bound on /dev/ttyS0 in a private /dev seen by Project1 alone.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "texts/texts.h"
#include "tools/namespace_advice.h"
#include "tools/port_device.h"
#include "tools/private_dev.h"

namespace {

using texts::Text;

void say(const std::string& text) {
  (void)std::fprintf(stderr, "project1-port: %s\n", text.c_str());
}

// The device itself, and the link it was given by.
std::string shown(const tools::PathFacts& facts) {
  if (facts.resolved.empty() || facts.resolved == facts.path) return facts.path;
  return texts::text(Text::MapperFromLink, {facts.resolved, facts.path});
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
  // The texts' language, and the system's for its own (strerror), from the locale.
  (void)std::setlocale(LC_CTYPE, "");
  (void)std::setlocale(LC_MESSAGES, "");
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
    (void)std::fputs(texts::text(Text::MapperUsage).c_str(), stdout);
    return 0;
  }
  if (args.empty() || (args[0].size() > 1 && args[0][0] == '-')) {
    if (!args.empty()) say(texts::text(Text::MapperUnknownOption, {args[0]}));
    (void)std::fputs(texts::text(Text::MapperUsage).c_str(), stderr);
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
      say(texts::text(Text::MapperStandsIn, {shown(facts), verdict.text}));
    }
  } catch (const std::exception& e) {
    // Users get the namespace from an unprivileged user namespace, which some systems restrict.
    std::optional<std::string> advice;
    if (!root) {
      advice = tools::namespaceAdvice("/proc/sys", ::access(tools::kAppArmorProfile, F_OK) == 0,
                                      tools::appArmorLabel());
    }
    say(advice ? texts::text(Text::MapperNoPrivateDevBecause, {e.what(), *advice})
               : texts::text(Text::MapperNoPrivateDev, {e.what()}));
    return 1;
  }

  std::vector<char*> argvOut;
  argvOut.reserve(command.size() + 1);
  for (auto& word : command) argvOut.push_back(word.data());
  argvOut.push_back(nullptr);
  ::execvp(argvOut[0], argvOut.data());
  say(texts::text(Text::MapperCannotRun, {command[0]}));
  return 127;
}
