#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace tools {

// Where the port mapper's AppArmor profile lives once the package has found it useful.
inline constexpr const char* kAppArmorProfile = "/etc/apparmor.d/project1-port";

// For a user who is not root and could not get a private /dev: the system setting that keeps
// unprivileged user namespaces from this program, read under `procSys` (/proc/sys), and the
// one command that lifts it. `profileInstalled` says whether kAppArmorProfile exists, which
// allows them for the installed program once loaded; `appArmorLabel` is this process's
// (/proc/self/attr/current), which names the profile once it is in force. Nothing when no such
// setting stands in the way. In the user's language.
std::optional<std::string> namespaceAdvice(const std::filesystem::path& procSys,
                                           bool profileInstalled, const std::string& appArmorLabel);

// This process's AppArmor label, or "" where AppArmor is not in use.
std::string appArmorLabel();

}  // namespace tools
