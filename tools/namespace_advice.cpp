#include "tools/namespace_advice.h"

#include <fstream>

namespace tools {
namespace {

std::string setting(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string value;
  in >> value;
  return value;
}

}  // namespace

std::optional<std::string> namespaceAdvice(const std::filesystem::path& procSys,
                                           bool profileInstalled,
                                           const std::string& appArmorLabel) {
  if (setting(procSys / "user" / "max_user_namespaces") == "0") {
    return "this system allows no user namespaces (user.max_user_namespaces = 0): "
           "sudo sysctl -w user.max_user_namespaces=1024";
  }
  // Debian's own switch, off by default before Debian 11.
  if (setting(procSys / "kernel" / "unprivileged_userns_clone") == "0") {
    return "this system keeps user namespaces from users (kernel.unprivileged_userns_clone = 0): "
           "sudo sysctl -w kernel.unprivileged_userns_clone=1";
  }
  // Ubuntu 23.10 and later: only programs whose AppArmor profile allows it get one.
  if (setting(procSys / "kernel" / "apparmor_restrict_unprivileged_userns") == "1") {
    if (appArmorLabel.rfind("project1-port", 0) == 0) return std::nullopt;  // allowed already
    if (profileInstalled) {
      return std::string(
                 "AppArmor allows user namespaces only to programs with a profile, and "
                 "project1-port's is not loaded: sudo apparmor_parser -r ") +
             kAppArmorProfile;
    }
    return "AppArmor allows user namespaces only to programs with a profile, and this "
           "project1-port has none (the package installs one where AppArmor can load it): "
           "sudo sysctl -w kernel.apparmor_restrict_unprivileged_userns=0";
  }
  return std::nullopt;
}

std::string appArmorLabel() {
  std::ifstream in("/proc/self/attr/current");
  std::string label;
  std::getline(in, label);
  return label;
}

}  // namespace tools
