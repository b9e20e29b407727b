#include "serial/internal/port_holders_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>

namespace serial::posix {
namespace {

std::optional<pid_t> pidOf(std::string_view name) {
  pid_t pid = 0;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (ec != std::errc() || end != name.data() + name.size() || pid <= 0) return std::nullopt;
  return pid;
}

// This process as `proc` numbers it: in another PID namespace getpid() would not match.
pid_t self(const std::filesystem::path& proc) {
  std::error_code ec;
  const auto target = std::filesystem::read_symlink(proc / "self", ec);
  if (!ec) {
    if (const auto pid = pidOf(target.filename().string())) return *pid;
  }
  return ::getpid();
}

// Whether a descriptor in `fdDir` is open on `rdev`. A directory that cannot be read (another
// user's process, or one that has just ended) holds nothing we can know of.
bool holds(int procFd, const char* fdDir, dev_t rdev) {
  const int fd = ::openat(procFd, fdDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return false;
  }
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    // stat() through the link: the open file itself, wherever its path now leads.
    struct stat st {};
    if (::fstatat(fd, entry->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

std::string commandName(const std::filesystem::path& proc, pid_t pid) {
  std::ifstream in(proc / std::to_string(pid) / "comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::string describe(const PortHolder& holder) {
  const std::string process = "process " + std::to_string(holder.pid);
  return holder.name.empty() ? process : holder.name + " (" + process + ")";
}

}  // namespace

std::vector<PortHolder> portHolders(dev_t rdev, const std::filesystem::path& proc) {
  std::vector<PortHolder> holders;
  const int procFd = ::open(proc.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (procFd < 0) return holders;
  DIR* dir = ::fdopendir(procFd);
  if (!dir) {
    ::close(procFd);
    return holders;
  }
  const pid_t us = self(proc);
  while (const dirent* entry = ::readdir(dir)) {
    const auto pid = pidOf(entry->d_name);
    if (!pid || *pid == us) continue;
    const std::string fdDir = std::string(entry->d_name) + "/fd";
    if (holds(procFd, fdDir.c_str(), rdev)) holders.push_back({*pid, {}});
  }
  ::closedir(dir);
  std::sort(holders.begin(), holders.end(),
            [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
  for (auto& holder : holders) holder.name = commandName(proc, holder.pid);
  return holders;
}

std::string describeHolders(const std::vector<PortHolder>& holders) {
  switch (holders.size()) {
    case 0:
      return {};
    case 1:
      return describe(holders[0]);
    case 2:
      return describe(holders[0]) + " and " + describe(holders[1]);
    default:
      return std::to_string(holders.size()) + " processes: " + describe(holders[0]) + ", " +
             describe(holders[1]) + " and " + std::to_string(holders.size() - 2) + " more";
  }
}

}  // namespace serial::posix
