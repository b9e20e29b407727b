#include "tools/port_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace tools {
namespace {

// Unix98 pseudo-terminal slaves: majors 136 to 143.
constexpr unsigned kPtyMajorFirst = 136;
constexpr unsigned kPtyMajorLast = 143;
// The terminals of the tty layer that no hardware is behind.
constexpr unsigned kVirtualConsoleMajor = 4;
constexpr unsigned kVirtualConsoleLast = 63;
constexpr unsigned kTtyAuxMajor = 5;  // 5:0 /dev/tty, 5:1 /dev/console, 5:2 /dev/ptmx

std::string named(const PathFacts& facts) {
  if (facts.resolved.empty() || facts.resolved == facts.path) return facts.path;
  return facts.path + " (" + facts.resolved + ")";
}

PortVerdict refuse(const PathFacts& facts, const std::string& what) {
  return {false, named(facts) + " " + what};
}

// A terminal of the tty layer with no port behind it, by its number.
std::string softTerminal(unsigned maj, unsigned min) {
  if (maj == kTtyAuxMajor && min == 0) return "the controlling terminal";
  if (maj == kTtyAuxMajor && min == 1) return "the system console";
  if (maj == kTtyAuxMajor && min == 2) return "the pseudo-terminal multiplexer";
  if (maj == kVirtualConsoleMajor && min <= kVirtualConsoleLast) {
    return min == 0 ? "the current virtual console" : "a virtual console";
  }
  return "a terminal with no serial port behind it";
}

std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

PortVerdict judgePortDevice(const PathFacts& facts, const std::filesystem::path& sysfs) {
  if (facts.statError == ENOENT || facts.statError == ENOTDIR) {
    return refuse(facts, "does not exist: is the adapter plugged in? (ls /dev/serial/by-id/)");
  }
  if (facts.statError != 0) {
    return refuse(facts, std::string("cannot be examined: ") + std::strerror(facts.statError));
  }
  if (S_ISREG(facts.mode)) return refuse(facts, "is a regular file, not a serial port");
  if (S_ISDIR(facts.mode)) return refuse(facts, "is a directory, not a serial port");
  if (S_ISBLK(facts.mode)) return refuse(facts, "is a block device, not a serial port");
  if (!S_ISCHR(facts.mode)) return refuse(facts, "is not a character device, not a serial port");

  const unsigned maj = ::major(facts.rdev);
  const unsigned min = ::minor(facts.rdev);
  if (maj >= kPtyMajorFirst && maj <= kPtyMajorLast) return {true, "a pseudo-terminal"};

  const std::string number = std::to_string(maj) + ":" + std::to_string(min);
  const std::filesystem::path entry = sysfs / "dev" / "char" / number;
  std::error_code ec;
  const std::string subsystem = std::filesystem::read_symlink(entry / "subsystem", ec).filename();
  if (ec) return refuse(facts, "is the character device " + number + ", not a serial port");
  if (subsystem != "tty") {
    return refuse(facts,
                  "is the character device " + number + " (" + subsystem + "), not a serial port");
  }
  // Ports of the tty layer that stand for hardware have a device behind them.
  if (!std::filesystem::exists(entry / "device", ec)) {
    return refuse(facts, "is " + softTerminal(maj, min) + ", not a serial port");
  }
  // The serial core names the UART it found; 0 is none (a placeholder such as most ttyS*).
  if (firstLine(entry / "type") == "0") {
    return refuse(facts, "is a serial port with no UART behind it");
  }
  return {true, "a serial port"};
}

PathFacts examinePath(const std::string& path) {
  PathFacts facts;
  facts.path = path;
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    facts.resolved = real;
    std::free(real);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    facts.statError = errno;
    return facts;
  }
  facts.mode = st.st_mode;
  facts.rdev = st.st_rdev;
  return facts;
}

}  // namespace tools
