#include "serial/internal/port_holders_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/in_child.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using serial::internal::describeHolders;
using serial::internal::PortHolder;
using serial::internal::portHolders;

// Runs `look` in a child as an ordinary user (nobody, when this is root, which may read every
// process's descriptors) and returns what it gave.
std::string asOrdinaryUser(const std::function<std::string()>& look) {
  return testing_support::inChild([&] {
    if (geteuid() == 0 && !testing_support::becomeNobody())
      return std::string("could not become nobody");
    return look();
  });
}

dev_t deviceOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_rdev;
}

// A /proc of our own making: process directories whose fd entries lead to real files.
class FakeProc : public ::testing::Test {
 protected:
  FakeProc() {
    fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  }
  ~FakeProc() override {
    std::error_code ec;
    for (const auto& locked : locked_) fs::permissions(locked, fs::perms::owner_all, ec);
  }

  // A process whose descriptors lead to `targets`, named `comm` unless that is empty.
  void process(const std::string& pid, const std::string& comm,
               const std::vector<std::string>& targets) {
    const fs::path dir = root_ / pid;
    fs::create_directories(dir / "fd");
    if (!comm.empty()) std::ofstream(dir / "comm") << comm << "\n";
    int fd = 0;
    for (const auto& target : targets)
      fs::create_symlink(target, dir / "fd" / std::to_string(fd++));
  }
  // Its descriptors kept from everyone but root, as another user's are.
  void unreadable(const std::string& pid) {
    locked_.push_back(root_ / pid / "fd");
    fs::permissions(locked_.back(), fs::perms::none);
  }

  testing_support::TempDir dir_;
  const fs::path root_ = dir_.path();
  std::vector<fs::path> locked_;
};

TEST_F(FakeProc, FindsOtherProcessesWithThePortOpenThatThisUserMaySee) {
  testing_support::PtyPair port;
  testing_support::PtyPair other;
  const std::string file = root_ / "a-file";  // in the fake /proc, which nobody may read
  std::ofstream(file).put('x');

  fs::create_directory_symlink("100", root_ / "self");
  process("100", "Project1", {port.slavePath()});                  // this process
  process("200", "agetty", {"/dev/null", port.slavePath()});       // a login console
  process("300", "bash", {"/dev/null", other.slavePath(), file});  // other devices and files
  process("400", "minicom", {port.slavePath()});                   // another user's
  unreadable("400");
  process("500", "kworker", {});  // no descriptors
  fs::remove(root_ / "500" / "fd");
  process("1200", "", {port.slavePath(), port.slavePath()});  // no name to be read
  process("12ab", "not-a-pid", {port.slavePath()});
  process("net", "not-a-pid", {port.slavePath()});

  const dev_t rdev = deviceOf(port.slavePath());
  const std::string found = asOrdinaryUser([&] {
    std::string said;
    for (const PortHolder& h : portHolders(rdev, root_)) {
      said += std::to_string(h.pid) + ":" + h.name + " ";
    }
    return said;
  });
  // In order of process id, once each.
  EXPECT_EQ(found, "200:agetty 1200: ");
  EXPECT_TRUE(portHolders(rdev, root_ / "missing").empty());
}

TEST(PortHolders, AreNamedOneOrTwoAndCounted) {
  const PortHolder getty{812, "agetty"};
  const PortHolder minicom{930, "minicom"};
  const PortHolder unnamed{1001, ""};
  const struct {
    std::vector<PortHolder> holders;
    const char* said;
  } cases[] = {
      {{getty}, "agetty (process 812)"},
      {{unnamed}, "process 1001"},
      {{getty, minicom}, "agetty (process 812) and minicom (process 930)"},
      {{getty, minicom, unnamed},
       "3 processes: agetty (process 812), minicom (process 930) and 1 more"},
      {{getty, minicom, unnamed, unnamed},
       "4 processes: agetty (process 812), minicom (process 930) and 2 more"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(describeHolders(c.holders), c.said);
  }
}

}  // namespace
