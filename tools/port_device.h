#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace tools {

// What stat() tells about a path offered as serial port 1, gathered without opening it.
struct PathFacts {
  std::string path;      // as given
  std::string resolved;  // symlinks followed; empty when that failed
  int statError = 0;     // errno of stat(), 0 when it worked
  mode_t mode = 0;
  dev_t rdev = 0;
  // Whether this user may read and write it (access(), which opens nothing), and why not.
  bool readWrite = true;
  std::string ownerName;  // the owner's or group's name, or its number
  std::string groupName;
  bool ownedBySelf = false;
  bool inGroup = false;        // the process has the file's group now
  bool listedInGroup = false;  // the group database lists the user in it (perhaps since the login)
};

struct PortVerdict {
  bool usable = false;
  // Usable: what the device is ("a serial port", "a pseudo-terminal").
  // Otherwise a one-line reason naming the path and what it is instead.
  // Both in the user's language.
  std::string text;
};

// Decides whether `facts` describe a device that may stand in for serial port 1: a
// pseudo-terminal, or a tty with hardware behind it according to the sysfs under `sysfs`.
PortVerdict judgePortDevice(const PathFacts& facts, const std::filesystem::path& sysfs);

// stat() and realpath() of `path`; never opens it.
PathFacts examinePath(const std::string& path);

}  // namespace tools
