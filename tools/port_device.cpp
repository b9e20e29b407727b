#include "tools/port_device.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "posix/pty.h"
#include "texts/texts.h"

namespace tools {
namespace {

// The terminals of the tty layer that no hardware is behind.
constexpr unsigned kVirtualConsoleMajor = 4;
constexpr unsigned kVirtualConsoleLast = 63;
constexpr unsigned kTtyAuxMajor = 5;  // 5:0 /dev/tty, 5:1 /dev/console, 5:2 /dev/ptmx

using texts::Text;

std::string named(const PathFacts& facts) {
  if (facts.resolved.empty() || facts.resolved == facts.path) return facts.path;
  return texts::text(Text::PathAndTarget, {facts.path, facts.resolved});
}

// `why` names the path as {1}; `more` fill its {2}, {3}, ...
template <typename... More>
PortVerdict refuse(const PathFacts& facts, Text why, const More&... more) {
  const std::string path = named(facts);
  return {false, texts::text(why, {std::string_view(path), std::string_view(more)...})};
}

// A terminal of the tty layer with no port behind it, by its number.
Text softTerminal(unsigned maj, unsigned min) {
  if (maj == kTtyAuxMajor && min == 0) return Text::PathControllingTerminal;
  if (maj == kTtyAuxMajor && min == 1) return Text::PathSystemConsole;
  if (maj == kTtyAuxMajor && min == 2) return Text::PathPtyMultiplexer;
  if (maj == kVirtualConsoleMajor && min <= kVirtualConsoleLast) {
    return min == 0 ? Text::PathCurrentVirtualConsole : Text::PathVirtualConsole;
  }
  return Text::PathSoftTerminal;
}

// A port the user may not read and write would only fail later, with advice that does not fit.
PortVerdict refuseAccess(const PathFacts& facts, bool pty) {
  if (pty && !facts.ownedBySelf) {
    return refuse(facts, Text::PathOtherUsersPty, facts.ownerName);
  }
  // Serial ports are shared through their group (dialout on Debian and Ubuntu).
  const bool groupMay = (facts.mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (!pty && !facts.ownedBySelf && groupMay && !facts.inGroup) {
    return refuse(facts, facts.listedInGroup ? Text::PathGroupSinceLogin : Text::PathGroupNotMember,
                  facts.groupName);
  }
  // As ls -l shows it.
  std::string mode = "c";
  for (const mode_t bit :
       {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH}) {
    mode += (facts.mode & bit) ? "rwx"[(mode.size() - 1) % 3] : '-';
  }
  return refuse(facts, Text::PathNoReadWrite, mode, facts.ownerName, facts.groupName);
}

std::string firstLine(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string userName(uid_t uid) {
  if (const passwd* pw = ::getpwuid(uid)) return pw->pw_name;
  return std::to_string(uid);
}

std::string groupName(gid_t gid) {
  if (const group* gr = ::getgrgid(gid)) return gr->gr_name;
  return std::to_string(gid);
}

// The groups this process has now.
bool hasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// The groups the database gives this user: a new member has them only after logging in again.
bool listedIn(gid_t gid) {
  const passwd* pw = ::getpwuid(::getuid());
  if (pw == nullptr) return false;
  const std::string name = pw->pw_name;
  const gid_t primary = pw->pw_gid;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(name.c_str(), primary, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

}  // namespace

PortVerdict judgePortDevice(const PathFacts& facts, const std::filesystem::path& sysfs) {
  if (facts.statError == ENOENT || facts.statError == ENOTDIR) {
    return refuse(facts, Text::PathMissing);
  }
  if (facts.statError != 0) {
    return refuse(facts, Text::PathNotExamined, std::strerror(facts.statError));
  }
  if (S_ISREG(facts.mode)) return refuse(facts, Text::PathRegularFile);
  if (S_ISDIR(facts.mode)) return refuse(facts, Text::PathDirectory);
  if (S_ISBLK(facts.mode)) return refuse(facts, Text::PathBlockDevice);
  if (!S_ISCHR(facts.mode)) return refuse(facts, Text::PathNotCharDevice);

  const unsigned maj = ::major(facts.rdev);
  const unsigned min = ::minor(facts.rdev);
  if (posix::isPtySlave(facts.rdev)) {
    if (!facts.readWrite) return refuseAccess(facts, true);
    return {true, texts::text(Text::MapperPseudoTerminal)};
  }

  const std::string number = std::to_string(maj) + ":" + std::to_string(min);
  const std::filesystem::path entry = sysfs / "dev" / "char" / number;
  std::error_code ec;
  const std::string subsystem = std::filesystem::read_symlink(entry / "subsystem", ec).filename();
  if (ec) return refuse(facts, Text::PathCharDevice, number);
  if (subsystem != "tty") return refuse(facts, Text::PathCharDeviceOf, number, subsystem);
  // Ports of the tty layer that stand for hardware have a device behind them.
  if (!std::filesystem::exists(entry / "device", ec)) {
    return refuse(facts, softTerminal(maj, min));
  }
  // The serial core names the UART it found; 0 is none (a placeholder such as most ttyS*).
  if (firstLine(entry / "type") == "0") {
    return refuse(facts, Text::PathNoUart);
  }
  if (!facts.readWrite) return refuseAccess(facts, false);
  return {true, texts::text(Text::MapperSerialPort)};
}

// Never opened: opening a real serial port raises DTR and may disturb what is attached to it.
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
  facts.readWrite = ::access(path.c_str(), R_OK | W_OK) == 0;
  facts.ownedBySelf = st.st_uid == ::getuid();
  facts.ownerName = userName(st.st_uid);
  facts.groupName = groupName(st.st_gid);
  facts.inGroup = hasGroup(st.st_gid);
  facts.listedInGroup = listedIn(st.st_gid);
  return facts;
}

}  // namespace tools
