#include "tools/namespace_advice.h"

#include <fstream>

#include "texts/texts.h"

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
    return texts::text(texts::Text::NamespaceNone);
  }
  // Debian's own switch, off by default before Debian 11.
  if (setting(procSys / "kernel" / "unprivileged_userns_clone") == "0") {
    return texts::text(texts::Text::NamespaceDebianSwitch);
  }
  // Ubuntu 23.10 and later: only programs whose AppArmor profile allows it get one.
  if (setting(procSys / "kernel" / "apparmor_restrict_unprivileged_userns") == "1") {
    if (appArmorLabel.rfind("project1-port", 0) == 0) return std::nullopt;  // allowed already
    if (profileInstalled) {
      return texts::text(texts::Text::NamespaceProfileNotLoaded, {kAppArmorProfile});
    }
    return texts::text(texts::Text::NamespaceNoProfile);
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
