#include "serial/internal/port_holders_posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>

#include "texts/texts.h"

namespace serial::internal {
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
bool holds(const std::string& fdDir, dev_t rdev) {
  DIR* dir = ::opendir(fdDir.c_str());
  if (!dir) return false;
  const int fd = ::dirfd(dir);
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

std::string commandName(const std::string& processDir) {
  std::ifstream in(processDir + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

std::string describe(const PortHolder& holder) {
  const std::string pid = std::to_string(holder.pid);
  return holder.name.empty() ? texts::text(texts::Text::Process, {pid})
                             : texts::text(texts::Text::NamedProcess, {holder.name, pid});
}

}  // namespace

std::vector<PortHolder> portHolders(dev_t rdev, const std::filesystem::path& proc) {
  // The processes first, then their descriptors: one directory open at a time, so that the
  // scan never holds more descriptors than the port itself will.
  std::vector<pid_t> pids;
  if (DIR* dir = ::opendir(proc.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      if (const auto pid = pidOf(entry->d_name)) pids.push_back(*pid);
    }
    ::closedir(dir);
  }
  std::sort(pids.begin(), pids.end());
  const pid_t us = self(proc);
  std::vector<PortHolder> holders;
  for (const pid_t pid : pids) {
    const std::string dir = proc / std::to_string(pid);
    if (pid != us && holds(dir + "/fd", rdev)) holders.push_back({pid, commandName(dir)});
  }
  return holders;
}

std::string describeHolders(const std::vector<PortHolder>& holders) {
  switch (holders.size()) {
    case 0:
      return {};
    case 1:
      return describe(holders[0]);
    case 2:
      return texts::text(texts::Text::TwoProcesses, {describe(holders[0]), describe(holders[1])});
    default:
      return texts::text(texts::Text::ManyProcesses,
                         {std::to_string(holders.size()), describe(holders[0]),
                          describe(holders[1]), std::to_string(holders.size() - 2)});
  }
}

}  // namespace serial::internal
