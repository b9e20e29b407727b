#include "tools/private_dev.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "posix/pty.h"
#include "posix/unique_fd.h"
#include "texts/texts.h"
#include "tools/port_device.h"

namespace tools {
namespace {

using texts::Text;

// The step that failed, `step` filled with `args`, and why: errno, taken before the texts are
// looked up (that may open files).
[[noreturn]] void fail(Text step, std::initializer_list<std::string_view> args = {}) {
  const std::string why = std::strerror(errno);
  throw std::runtime_error(texts::text(Text::PrivateDevFailed, {texts::text(step, args), why}));
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream f(path);
  f << text;
  if (!f.flush()) fail(Text::PrivateDevWrite, {path});
}

void unshareMounts() {
  if (::unshare(CLONE_NEWNS) == 0) return;
  // Not root: a user namespace of our own maps us to root inside it.
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) fail(Text::PrivateDevUnshare);
  writeFile("/proc/self/setgroups", "deny");
  writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
  writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

// A path-only descriptor names a file without opening it: a serial port is not touched (opening
// one raises DTR), and what it names stays reachable once /dev is covered.
posix::UniqueFd pathOnly(const std::string& path) {
  posix::UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
  if (!fd) fail(Text::PrivateDevFind, {path});
  return fd;
}

// Binds what `from` names (taken as `name`) on `to`, made first as a file or directory.
void bindOnto(const posix::UniqueFd& from, const std::string& name, const std::string& to,
              bool directory) {
  if (directory) {
    if (::mkdir(to.c_str(), 0755) != 0 && errno != EEXIST) fail(Text::PrivateDevMkdir, {to});
  } else {
    const int fd = ::open(to.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) fail(Text::PrivateDevCreate, {to});
    ::close(fd);
  }
  const std::string source = "/proc/self/fd/" + std::to_string(from.get());
  if (::mount(source.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
    fail(Text::PrivateDevBind, {name, to});
  }
}

bool isPty(const struct stat& st) { return S_ISCHR(st.st_mode) && posix::isPtySlave(st.st_rdev); }

// What a port must be: `accepts` judges what ended up on /dev/ttyS0, so that a path changed
// after it was checked cannot put another device there; the texts say it was not.
struct Expected {
  std::function<bool(const struct stat&)> accepts;
  Text notThis;       // {1} the path given
  Text ttyS0NotThis;  // {1} the path given
};

void enter(const std::optional<std::string>& ttyS0, const Expected& expected) {
  unshareMounts();
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    fail(Text::PrivateDevMakePrivate);

  // Everything the new /dev holds is taken from the old one first, in this namespace (a
  // descriptor from another namespace cannot be bound): the port may be any node of the old
  // /dev, or a link into it such as /dev/serial/by-id/..., all hidden once /dev is covered.
  const char* const kept[] = {"null", "zero", "full", "random", "urandom", "tty"};
  std::vector<posix::UniqueFd> devices;
  for (const char* name : kept) devices.push_back(pathOnly(std::string("/dev/") + name));
  const posix::UniqueFd pts = pathOnly("/dev/pts");
  posix::UniqueFd port;
  if (ttyS0) {
    port = pathOnly(*ttyS0);
    struct stat st {};
    if (::fstat(port.get(), &st) != 0 || !expected.accepts(st)) {
      errno = ENODEV;
      fail(expected.notThis, {*ttyS0});
    }
  }

  if (::mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=755") != 0) fail(Text::PrivateDevTmpfs);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const std::string path = std::string("/dev/") + kept[i];
    bindOnto(devices[i], path, path, false);
  }
  bindOnto(pts, "/dev/pts", "/dev/pts", true);
  if (::symlink("pts/ptmx", "/dev/ptmx") != 0) fail(Text::PrivateDevSymlinkPtmx);
  if (::mkdir("/dev/shm", 01777) != 0 ||
      ::mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777") != 0) {
    fail(Text::PrivateDevShm);
  }
  for (const auto& [link, target] : {std::pair{"fd", "/proc/self/fd"},
                                     {"stdin", "/proc/self/fd/0"},
                                     {"stdout", "/proc/self/fd/1"},
                                     {"stderr", "/proc/self/fd/2"}}) {
    if (::symlink(target, (std::string("/dev/") + link).c_str()) != 0)
      fail(Text::PrivateDevSymlink);
  }
  if (ttyS0) {
    bindOnto(port, *ttyS0, "/dev/ttyS0", false);
    struct stat st {};
    if (::stat("/dev/ttyS0", &st) != 0 || !expected.accepts(st)) {
      errno = ENODEV;
      fail(expected.ttyS0NotThis, {*ttyS0});
    }
  }
}

}  // namespace

void enterPrivateDev(const std::optional<std::string>& ttyS0) {
  enter(ttyS0, {isPty, Text::PrivateDevNotThePty, Text::PrivateDevTtyS0NotThePty});
}

void enterPrivateDevWithPort(const std::string& device, dev_t rdev) {
  enter(device,
        {[rdev](const struct stat& st) { return S_ISCHR(st.st_mode) && st.st_rdev == rdev; },
         Text::PrivateDevNotTheDevice, Text::PrivateDevTtyS0NotTheDevice});
}

bool canMakePrivateDev() {
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    try {
      enterPrivateDev(std::nullopt);
      ::_exit(0);
    } catch (...) {
      ::_exit(1);
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace tools
