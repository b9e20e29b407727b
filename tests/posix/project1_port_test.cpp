// The port mapper: which paths it takes for port 1 (a table against a made-up sysfs), and the
// installed tool itself on a pty and on things that are not serial ports. Never given the
// machine's own serial devices.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/pty_pair.h"
#include "tools/port_device.h"
#include "tools/private_dev.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tools::PathFacts;

// A directory of its own, removed with its contents.
struct TempDir {
  fs::path path;
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "project1-port-test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

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

PathFacts chr(const std::string& path, unsigned maj, unsigned min) {
  return {path, path, 0, S_IFCHR | 0660, makedev(maj, min)};
}

TEST(PortDevice, TakesSerialPortsAndPtysAndNamesWhatElseAPathIs) {
  TempDir sysfs;
  addChar(sysfs.path, "188:0", "tty", true);      // ttyUSB0
  addChar(sysfs.path, "166:0", "tty", true);      // ttyACM0
  addChar(sysfs.path, "4:64", "tty", true, "4");  // ttyS0, a 16550A
  addChar(sysfs.path, "4:65", "tty", true, "0");  // ttyS1, no UART found
  addChar(sysfs.path, "4:1", "tty");              // tty1
  addChar(sysfs.path, "5:0", "tty");              // /dev/tty
  addChar(sysfs.path, "5:1", "tty");              // /dev/console
  addChar(sysfs.path, "1:3", "mem");              // /dev/null
  addChar(sysfs.path, "250:0", "tty");            // some terminal of a driver, no port

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
      {chr("/dev/ttyS1", 4, 65), false, "/dev/ttyS1 is a serial port with no UART behind it"},
      {chr("/dev/tty1", 4, 1), false, "/dev/tty1 is a virtual console, not a serial port"},
      {chr("/dev/tty", 5, 0), false, "/dev/tty is the controlling terminal, not a serial port"},
      {chr("/dev/console", 5, 1), false, "/dev/console is the system console, not a serial port"},
      {chr("/dev/x", 250, 0), false, "/dev/x is a terminal with no serial port behind it"},
      {chr("/dev/null", 1, 3), false, "/dev/null is the character device 1:3 (mem), not a"},
      {nullById, false, "/dev/serial/by-id/usb-odd (/dev/null) is the character device 1:3"},
      {chr("/dev/weird", 144, 0), false, "/dev/weird is the character device 144:0, not a"},
      {{"/dev/ttyUSB9", "", ENOENT, 0, 0}, false, "/dev/ttyUSB9 does not exist"},
      {{"/root/x", "", EACCES, 0, 0}, false, "/root/x cannot be examined: Permission denied"},
      {{"/tmp/log", "/tmp/log", 0, S_IFREG | 0644, 0}, false, "/tmp/log is a regular file, not"},
      {{"/dev", "/dev", 0, S_IFDIR | 0755, 0}, false, "/dev is a directory, not a serial port"},
      {{"/dev/sda", "/dev/sda", 0, S_IFBLK | 0660, makedev(8, 0)}, false, "is a block device"},
      {{"/tmp/fifo", "/tmp/fifo", 0, S_IFIFO | 0644, 0}, false, "is not a character device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.facts.path);
    const tools::PortVerdict verdict = tools::judgePortDevice(c.facts, sysfs.path);
    EXPECT_EQ(verdict.usable, c.usable) << verdict.text;
    EXPECT_NE(verdict.text.find(c.says), std::string::npos) << verdict.text;
  }
}

TEST(PortDevice, ExaminingFollowsSymlinksWithoutOpening) {
  TempDir dir;
  fs::create_symlink("/dev/null", dir.path / "link");
  const PathFacts facts = tools::examinePath((dir.path / "link").string());
  EXPECT_EQ(facts.resolved, "/dev/null");
  EXPECT_TRUE(S_ISCHR(facts.mode));
  EXPECT_EQ(facts.rdev, makedev(1, 3));
  EXPECT_EQ(tools::examinePath((dir.path / "none").string()).statError, ENOENT);
}

struct Ran {
  int status = -1;  // exit code, or -1 when it did not exit
  std::string out;
  std::string err;
};

// Runs the tool (or `program`) with `args`, stdout and stderr kept apart.
Ran run(const std::vector<std::string>& args, const std::string& program = PROJECT1_PORT) {
  TempDir dir;
  const fs::path out = dir.path / "out";
  const fs::path err = dir.path / "err";
  const pid_t child = ::fork();
  if (child == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
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
  const fs::path file = dir.path / "receipt.txt";
  writeFile(file, "not a port\n");
  const fs::path marker = dir.path / "ran";
  const struct {
    std::string path;
    std::string says;
  } cases[] = {
      {file.string(), file.string() + " is a regular file, not a serial port"},
      {dir.path.string(), dir.path.string() + " is a directory, not a serial port"},
      {"/dev/null", "/dev/null is the character device 1:3 (mem), not a serial port"},
      {(dir.path / "ttyUSB7").string(), (dir.path / "ttyUSB7").string() + " does not exist"},
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
  const fs::path tool = dir.path / "project1-port";
  fs::copy_file(PROJECT1_PORT, tool);
  const fs::path marker = dir.path / "ran";
  writeFile(dir.path / "Project1",
            "#!/bin/sh\n[ $# -eq 0 ] && [ -c /dev/ttyS0 ] && touch '" + marker.string() + "'\n");
  fs::permissions(dir.path / "Project1", fs::perms::owner_all);
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
