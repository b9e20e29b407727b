// The port mapper: which paths it takes for port 1 (a table against a made-up sysfs), and the
// installed tool itself on a pty and on things that are not serial ports. Never given the
// machine's own serial devices.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/in_child.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"
#include "tools/namespace_advice.h"
#include "tools/port_device.h"
#include "tools/private_dev.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing_support::TempDir;
using tools::PathFacts;

void writeFile(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

std::string readFile(const fs::path& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A sysfs entry for a character device as the kernel lays it out: its subsystem, and for a
// port with hardware behind it a `device` link and (serial core ports) the UART type.
void addChar(const fs::path& sysfs, const std::string& number, const std::string& subsystem,
             bool device = false, const char* type = nullptr) {
  const fs::path entry = sysfs / "dev" / "char" / number;
  fs::create_directories(entry);
  fs::create_directories(sysfs / "class" / subsystem);
  fs::create_directory_symlink(fs::path("../../../class") / subsystem, entry / "subsystem");
  if (device) {
    fs::create_directories(sysfs / "devices" / number);
    fs::create_directory_symlink(fs::path("../../../devices") / number, entry / "device");
  }
  if (type != nullptr) writeFile(entry / "type", std::string(type) + "\n");
}

PathFacts facts(const std::string& path, const std::string& resolved, int statError, mode_t mode,
                dev_t rdev) {
  PathFacts f;
  f.path = path;
  f.resolved = resolved;
  f.statError = statError;
  f.mode = mode;
  f.rdev = rdev;
  return f;
}

PathFacts chr(const std::string& path, unsigned maj, unsigned min) {
  return facts(path, path, 0, S_IFCHR | 0660, makedev(maj, min));
}

// The same device as this user may not read and write it.
PathFacts denied(PathFacts f, mode_t perms, const char* owner, const char* group,
                 bool listedInGroup = false) {
  f.mode = S_IFCHR | perms;
  f.readWrite = false;
  f.ownerName = owner;
  f.groupName = group;
  f.listedInGroup = listedInGroup;
  return f;
}

TEST(PortDevice, TakesSerialPortsAndPtysAndNamesWhatElseAPathIs) {
  TempDir sysfs;
  addChar(sysfs.path(), "188:0", "tty", true);      // ttyUSB0
  addChar(sysfs.path(), "166:0", "tty", true);      // ttyACM0
  addChar(sysfs.path(), "4:64", "tty", true, "4");  // ttyS0, a 16550A
  addChar(sysfs.path(), "4:65", "tty", true, "0");  // ttyS1, no UART found
  addChar(sysfs.path(), "4:68", "tty", true, "4");  // ttyS4, a 16550A
  addChar(sysfs.path(), "4:1", "tty");              // tty1
  addChar(sysfs.path(), "5:0", "tty");              // /dev/tty
  addChar(sysfs.path(), "5:1", "tty");              // /dev/console
  addChar(sysfs.path(), "1:3", "mem");              // /dev/null
  addChar(sysfs.path(), "250:0", "tty");            // some terminal of a driver, no port

  PathFacts byId = chr("/dev/serial/by-id/usb-FTDI_A1-if00-port0", 188, 0);
  byId.resolved = "/dev/ttyUSB0";
  PathFacts nullById = chr("/dev/serial/by-id/usb-odd", 1, 3);
  nullById.resolved = "/dev/null";

  const struct {
    PathFacts facts;
    bool usable;
    const char* says;
  } cases[] = {
      {chr("/dev/ttyUSB0", 188, 0), true, "a serial port"},
      {chr("/dev/ttyACM0", 166, 0), true, "a serial port"},
      {chr("/dev/ttyS0", 4, 64), true, "a serial port"},
      {byId, true, "a serial port"},
      {chr("/dev/pts/3", 136, 3), true, "a pseudo-terminal"},
      {chr("/dev/pts/9000", 143, 1000), true, "a pseudo-terminal"},
      {chr("/dev/ttyp0", 3, 0), true, "a pseudo-terminal"},  // BSD's, on kernels with legacy ptys
      {chr("/dev/ttyS1", 4, 65), false, "/dev/ttyS1 is a serial port with no UART behind it"},
      {chr("/dev/tty1", 4, 1), false, "/dev/tty1 is a virtual console, not a serial port"},
      {chr("/dev/tty", 5, 0), false, "/dev/tty is the controlling terminal, not a serial port"},
      {chr("/dev/console", 5, 1), false, "/dev/console is the system console, not a serial port"},
      {chr("/dev/x", 250, 0), false, "/dev/x is a terminal with no serial port behind it"},
      {chr("/dev/null", 1, 3), false, "/dev/null is the character device 1:3 (mem), not a"},
      {nullById, false, "/dev/serial/by-id/usb-odd (/dev/null) is the character device 1:3"},
      {chr("/dev/weird", 144, 0), false, "/dev/weird is the character device 144:0, not a"},
      {denied(chr("/dev/ttyUSB0", 188, 0), 0660, "root", "dialout"), false,
       "/dev/ttyUSB0 belongs to the group dialout, and this user is not in it: sudo adduser "
       "$USER dialout, then log out and in again"},
      {denied(byId, 0660, "root", "dialout", true), false,
       "usb-FTDI_A1-if00-port0 (/dev/ttyUSB0) belongs to the group dialout, which this user was "
       "added to after logging in: log out and in again"},
      {denied(chr("/dev/ttyS4", 4, 68), 0600, "root", "root"), false,
       "/dev/ttyS4 cannot be read and written by this user (crw-------, owner root, group root)"},
      {denied(chr("/dev/pts/3", 136, 3), 0620, "alice", "tty"), false,
       "/dev/pts/3 is a pseudo-terminal of another user (alice): only that user's programs can "
       "use it"},
      {facts("/dev/ttyUSB9", "", ENOENT, 0, 0), false, "/dev/ttyUSB9 does not exist"},
      {facts("/root/x", "", EACCES, 0, 0), false, "/root/x cannot be examined: Permission denied"},
      {facts("/tmp/log", "/tmp/log", 0, S_IFREG | 0644, 0), false,
       "/tmp/log is a regular file, not"},
      {facts("/dev", "/dev", 0, S_IFDIR | 0755, 0), false,
       "/dev is a directory, not a serial port"},
      {facts("/dev/sda", "/dev/sda", 0, S_IFBLK | 0660, makedev(8, 0)), false, "is a block device"},
      {facts("/tmp/fifo", "/tmp/fifo", 0, S_IFIFO | 0644, 0), false, "is not a character device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.facts.path);
    const tools::PortVerdict verdict = tools::judgePortDevice(c.facts, sysfs.path());
    EXPECT_EQ(verdict.usable, c.usable) << verdict.text;
    EXPECT_NE(verdict.text.find(c.says), std::string::npos) << verdict.text;
  }
}

TEST(PortDevice, ExaminingFollowsSymlinksWithoutOpening) {
  TempDir dir;
  fs::create_symlink("/dev/null", dir.path() / "link");
  const PathFacts facts = tools::examinePath((dir.path() / "link").string());
  EXPECT_EQ(facts.resolved, "/dev/null");
  EXPECT_TRUE(S_ISCHR(facts.mode));
  EXPECT_EQ(facts.rdev, makedev(1, 3));
  EXPECT_EQ(tools::examinePath((dir.path() / "none").string()).statError, ENOENT);
}

TEST(PortMapperAdvice, NamesTheSettingThatKeepsUserNamespacesAwayAndTheCommandThatHelps) {
  const struct {
    const char* name;
    std::vector<std::pair<const char*, const char*>> settings;  // under /proc/sys
    bool profileInstalled;
    const char* label;
    const char* says;  // "" for no advice
  } cases[] = {
      {"nothing restricts", {{"user/max_user_namespaces", "63704"}}, false, "", ""},
      {"no user namespaces at all",
       {{"user/max_user_namespaces", "0"}},
       false,
       "",
       "(user.max_user_namespaces = 0): sudo sysctl -w user.max_user_namespaces=1024"},
      {"Debian's switch off",
       {{"kernel/unprivileged_userns_clone", "0"}},
       false,
       "",
       "(kernel.unprivileged_userns_clone = 0): sudo sysctl -w kernel.unprivileged_userns_clone=1"},
      {"Debian's switch on", {{"kernel/unprivileged_userns_clone", "1"}}, false, "", ""},
      {"AppArmor, profile not loaded",
       {{"kernel/apparmor_restrict_unprivileged_userns", "1"}},
       true,
       "unconfined",
       "project1-port's is not loaded: sudo apparmor_parser -r /etc/apparmor.d/project1-port"},
      {"AppArmor, no profile",
       {{"kernel/apparmor_restrict_unprivileged_userns", "1"}},
       false,
       "unconfined",
       "has none (the package installs one where AppArmor can load it): sudo sysctl -w "
       "kernel.apparmor_restrict_unprivileged_userns=0"},
      {"AppArmor, profile in force: not the cause",
       {{"kernel/apparmor_restrict_unprivileged_userns", "1"}},
       true,
       "project1-port (unconfined)",
       ""},
      {"AppArmor not restricting",
       {{"kernel/apparmor_restrict_unprivileged_userns", "0"}},
       false,
       "unconfined",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir procSys;
    for (const auto& [file, value] : c.settings) {
      fs::create_directories((procSys.path() / file).parent_path());
      writeFile(procSys.path() / file, std::string(value) + "\n");
    }
    const auto advice = tools::namespaceAdvice(procSys.path(), c.profileInstalled, c.label);
    if (std::string(c.says).empty()) {
      EXPECT_FALSE(advice) << *advice;
    } else {
      ASSERT_TRUE(advice);
      EXPECT_NE(advice->find(c.says), std::string::npos) << *advice;
    }
  }
}

struct Ran {
  int status = -1;  // exit code, or -1 when it did not exit
  std::string out;
  std::string err;
};

// Runs the tool (or `program`) with `args`, stdout and stderr kept apart; `inChild` prepares
// the child's world first (its failure is exit 125, said on stderr).
Ran run(const std::vector<std::string>& args, const std::string& program = PROJECT1_PORT,
        const std::function<void()>& inChild = {}) {
  TempDir dir;
  const fs::path out = dir.path() / "out";
  const fs::path err = dir.path() / "err";
  const pid_t child = ::fork();
  if (child == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
    if (inChild) {
      try {
        inChild();
      } catch (const std::exception& ex) {
        (void)::write(2, ex.what(), std::strlen(ex.what()));
        ::_exit(125);
      }
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  Ran ran;
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    ran.status = WEXITSTATUS(status);
  }
  ran.out = readFile(out);
  ran.err = readFile(err);
  return ran;
}

TEST(Project1Port, PrintsThroughAPtyBoundOnPortOne) {
  if (!tools::canMakePrivateDev()) GTEST_SKIP() << "no mount namespaces here";
  testing_support::PtyPair pty;
  const Ran ran = run({pty.slavePath(), "/bin/sh", "-c", "printf 'port one\\033@' >/dev/ttyS0"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(pty.read(10, 2s), "port one\x1b@");
}

void must(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The pty's device number as stat -c %t:%T prints it.
std::string hexNumber(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "?";
  std::ostringstream number;
  number << std::hex << ::major(st.st_rdev) << ":" << ::minor(st.st_rdev);
  return number.str();
}

// How a USB adapter's port sits in /dev: a node of its own, not under /dev/pts.
enum class Node {
  Made,   // made with mknod (root only); a pty opens only through its devpts, so just looked at
  Bound,  // the pty itself bound there, so that bytes go through it
};

constexpr const char* kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";

// In the child: a /dev of the test's own with the pty as /dev/ttyUSB0, a by-id link to it, and
// a link to that link as a udev rule makes one.
std::function<void()> adapterAt(Node node, const std::string& pty) {
  return [node, pty] {
    tools::enterPrivateDev(std::nullopt);
    if (node == Node::Made) {
      struct stat st {};
      must(::stat(pty.c_str(), &st) == 0, "stat " + pty);
      must(::mknod("/dev/ttyUSB0", S_IFCHR | 0660, st.st_rdev) == 0, "mknod /dev/ttyUSB0");
    } else {
      const int fd = ::open("/dev/ttyUSB0", O_CREAT | O_WRONLY | O_CLOEXEC, 0660);
      must(fd >= 0, "create /dev/ttyUSB0");
      ::close(fd);
      must(::mount(pty.c_str(), "/dev/ttyUSB0", nullptr, MS_BIND, nullptr) == 0, "bind the pty");
    }
    fs::create_directories("/dev/serial/by-id");
    fs::create_symlink("../../ttyUSB0", kById);
    fs::create_symlink(fs::path(kById).relative_path().lexically_relative("dev"),
                       "/dev/receipt-printer");
  };
}

TEST(Project1Port, MapsAnAdapterThatLivesInDevDirectlyOrThroughLinks) {
  if (!tools::canMakePrivateDev()) GTEST_SKIP() << "no mount namespaces here";
  testing_support::PtyPair pty;
  const std::string number = hexNumber(pty.slavePath());
  for (const Node node : {Node::Made, Node::Bound}) {
    if (node == Node::Made && ::geteuid() != 0) continue;  // mknod needs root
    for (const std::string path : {"/dev/ttyUSB0", kById, "/dev/receipt-printer"}) {
      SCOPED_TRACE(path + (node == Node::Made ? " made with mknod" : " bound"));
      const std::string print = node == Node::Bound ? "; printf 'port one' >/dev/ttyS0" : "";
      const Ran ran = run({path, "/bin/sh", "-c", "stat -L -c %t:%T /dev/ttyS0" + print},
                          PROJECT1_PORT, adapterAt(node, pty.slavePath()));
      ASSERT_EQ(ran.status, 0) << ran.err;
      EXPECT_EQ(ran.out, number + "\n") << "/dev/ttyS0 is not the adapter's port";
      // It says in one line which device is port 1 now.
      const std::string from = path == "/dev/ttyUSB0" ? "" : " (from " + path + ")";
      EXPECT_EQ(ran.err, "project1-port: /dev/ttyUSB0" + from +
                             ", a pseudo-terminal, stands in for port 1 (/dev/ttyS0)\n");
      if (node == Node::Bound) {
        EXPECT_EQ(pty.read(8, 2s), "port one");
      }
    }
  }
}

// Names in `dir` that start with `prefix`.
std::vector<std::string> entries(const fs::path& dir, const std::string& prefix) {
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) found.push_back(name);
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(Project1Port, LeavesNothingBehindWhenItFails) {
  if (!tools::canMakePrivateDev()) GTEST_SKIP() << "no mount namespaces here";
  testing_support::PtyPair pty;
  TempDir tmp;
  const auto before = entries("/tmp", "private-dev.");
  // A /dev without /dev/full: the tool fails once it is in its own namespace.
  const Ran ran = run({pty.slavePath(), "/bin/true"}, PROJECT1_PORT, [&] {
    tools::enterPrivateDev(std::nullopt);
    must(::umount2("/dev/full", MNT_DETACH) == 0 && ::unlink("/dev/full") == 0, "remove /dev/full");
    must(::setenv("TMPDIR", tmp.path().c_str(), 1) == 0, "TMPDIR");
  });
  EXPECT_EQ(ran.status, 1) << ran.err;
  EXPECT_NE(ran.err.find("/dev/full"), std::string::npos) << ran.err;
  EXPECT_TRUE(fs::is_empty(tmp.path())) << "left in TMPDIR: " << entries(tmp.path(), "").front();
  EXPECT_EQ(entries("/tmp", "private-dev."), before);
}

TEST(Project1Port, RefusesAnotherUsersPtyUpFront) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to be another user";
  testing_support::PtyPair pty;  // root's
  const Ran ran = run({pty.slavePath(), "/bin/true"}, PROJECT1_PORT,
                      [] { must(testing_support::becomeNobody(), "become nobody"); });
  EXPECT_EQ(ran.status, 1);
  EXPECT_EQ(ran.err, "project1-port: " + pty.slavePath() +
                         " is a pseudo-terminal of another user (root): only that user's "
                         "programs can use it\n");
}

TEST(Project1Port, ThePrivateDevHoldsNoOtherSerialDevice) {
  if (!tools::canMakePrivateDev()) GTEST_SKIP() << "no mount namespaces here";
  testing_support::PtyPair pty;
  const Ran ran =
      run({pty.slavePath(), "/bin/sh", "-c", "ls -A /dev; stat -L -c %t:%T /dev/ttyS0"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  std::istringstream names(ran.out);
  std::vector<std::string> lines;
  for (std::string name; std::getline(names, name);) lines.push_back(name);
  ASSERT_FALSE(lines.empty());
  struct stat st {};
  ASSERT_EQ(::stat(pty.slavePath().c_str(), &st), 0);
  std::ostringstream number;
  number << std::hex << ::major(st.st_rdev) << ":" << ::minor(st.st_rdev);
  EXPECT_EQ(lines.back(), number.str()) << "/dev/ttyS0 is not the pty";
  lines.pop_back();
  for (const auto& name : lines) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(name == "ttyS0" || name == "tty" ||
                (name.rfind("tty", 0) != 0 && name != "serial" && name != "console"));
  }
}

TEST(Project1Port, DashLeavesPortOneMissing) {
  if (!tools::canMakePrivateDev()) GTEST_SKIP() << "no mount namespaces here";
  const Ran ran = run({"-", "/bin/sh", "-c", "test ! -e /dev/ttyS0"});
  EXPECT_EQ(ran.status, 0) << ran.err;
}

TEST(Project1Port, RefusesWhatIsNotASerialPortAndRunsNothing) {
  TempDir dir;
  const fs::path file = dir.path() / "receipt.txt";
  writeFile(file, "not a port\n");
  const fs::path marker = dir.path() / "ran";
  const struct {
    std::string path;
    std::string says;
  } cases[] = {
      {file.string(), file.string() + " is a regular file, not a serial port"},
      {dir.path().string(), dir.path().string() + " is a directory, not a serial port"},
      {"/dev/null", "/dev/null is the character device 1:3 (mem), not a serial port"},
      {(dir.path() / "ttyUSB7").string(), (dir.path() / "ttyUSB7").string() + " does not exist"},
      {"/dev/tty", "/dev/tty is the controlling terminal, not a serial port"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Ran ran = run({c.path, "/bin/sh", "-c", "touch '" + marker.string() + "'"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err.rfind("project1-port: " + c.says, 0), 0u) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
    EXPECT_FALSE(fs::exists(marker));
  }
}

TEST(Project1Port, RunsTheProject1BesideIt) {
  if (!tools::canMakePrivateDev()) GTEST_SKIP() << "no mount namespaces here";
  TempDir dir;
  const fs::path tool = dir.path() / "project1-port";
  fs::copy_file(PROJECT1_PORT, tool);
  const fs::path marker = dir.path() / "ran";
  writeFile(dir.path() / "Project1",
            "#!/bin/sh\n[ $# -eq 0 ] && [ -c /dev/ttyS0 ] && touch '" + marker.string() + "'\n");
  fs::permissions(dir.path() / "Project1", fs::perms::owner_all);
  testing_support::PtyPair pty;
  const Ran ran = run({pty.slavePath()}, tool.string());
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_TRUE(fs::exists(marker)) << "Project1 beside the tool did not run, without arguments";
}

TEST(Project1Port, HelpShowsATechnicianTheUsualCommands) {
  const Ran help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* line :
       {"project1-port /dev/ttyUSB0\n", "project1-port /dev/serial/by-id/", "dialout"}) {
    EXPECT_NE(help.out.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(run({"-h"}).out, help.out);
  const Ran none = run({});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("Usage: project1-port DEVICE"), std::string::npos) << none.err;
  const Ran odd = run({"--device=/dev/ttyUSB0"});
  EXPECT_EQ(odd.status, 2);
  EXPECT_EQ(odd.err.rfind("project1-port: unknown option --device=/dev/ttyUSB0\n", 0), 0u);
}

}  // namespace
