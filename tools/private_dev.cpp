#include "tools/private_dev.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>

namespace tools {
namespace {

// Unix98 pseudo-terminal slaves: majors 136 to 143.
constexpr unsigned kPtyMajorFirst = 136;
constexpr unsigned kPtyMajorLast = 143;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("private /dev: " + what + ": " + std::strerror(errno));
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream f(path);
  f << text;
  if (!f.flush()) fail("write " + path);
}

void unshareMounts() {
  if (::unshare(CLONE_NEWNS) == 0) return;
  // Not root: a user namespace of our own maps us to root inside it.
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) fail("unshare");
  writeFile("/proc/self/setgroups", "deny");
  writeFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
  writeFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
}

void bindOnto(const std::string& from, const std::string& to, bool directory) {
  if (directory) {
    if (::mkdir(to.c_str(), 0755) != 0 && errno != EEXIST) fail("mkdir " + to);
  } else {
    const int fd = ::open(to.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) fail("create " + to);
    ::close(fd);
  }
  if (::mount(from.c_str(), to.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) {
    fail("bind " + from + " on " + to);
  }
}

bool isPty(const struct stat& st) {
  return S_ISCHR(st.st_mode) && ::major(st.st_rdev) >= kPtyMajorFirst &&
         ::major(st.st_rdev) <= kPtyMajorLast;
}

// `accepts` judges what ended up on /dev/ttyS0, so that a path changed after it was checked
// cannot put another device there.
void enter(const std::optional<std::string>& ttyS0,
           const std::function<bool(const struct stat&)>& accepts, const std::string& what) {
  unshareMounts();
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("make / private");

  // Keep the old /dev reachable while the new one is filled, then let go of it.
  char stage[] = "/tmp/private-dev.XXXXXX";
  if (!::mkdtemp(stage)) fail("mkdtemp");
  const std::string old = stage;
  if (::mount("/dev", old.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) fail("bind /dev");
  if (::mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=755") != 0) fail("tmpfs on /dev");

  for (const char* name : {"null", "zero", "full", "random", "urandom", "tty"}) {
    bindOnto(old + "/" + name, std::string("/dev/") + name, false);
  }
  bindOnto(old + "/pts", "/dev/pts", true);
  if (::symlink("pts/ptmx", "/dev/ptmx") != 0) fail("symlink ptmx");
  if (::mkdir("/dev/shm", 01777) != 0 ||
      ::mount("tmpfs", "/dev/shm", "tmpfs", 0, "mode=1777") != 0) {
    fail("/dev/shm");
  }
  for (const auto& [link, target] : {std::pair{"fd", "/proc/self/fd"},
                                     {"stdin", "/proc/self/fd/0"},
                                     {"stdout", "/proc/self/fd/1"},
                                     {"stderr", "/proc/self/fd/2"}}) {
    if (::symlink(target, (std::string("/dev/") + link).c_str()) != 0) fail("symlink");
  }
  if (ttyS0) {
    bindOnto(*ttyS0, "/dev/ttyS0", false);
    struct stat st {};
    if (::stat("/dev/ttyS0", &st) != 0 || !accepts(st)) {
      errno = ENODEV;
      fail("/dev/ttyS0 is not " + what + " " + *ttyS0);
    }
  }
  if (::umount2(old.c_str(), MNT_DETACH) != 0) fail("unmount old /dev");
  ::rmdir(old.c_str());
}

}  // namespace

void enterPrivateDev(const std::optional<std::string>& ttyS0) {
  enter(ttyS0, isPty, "the pseudo-terminal");
}

void enterPrivateDevWithPort(const std::string& device, dev_t rdev) {
  enter(
      device, [rdev](const struct stat& st) { return S_ISCHR(st.st_mode) && st.st_rdev == rdev; },
      "the device");
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
