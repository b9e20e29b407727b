#include "serial/internal/port_name_posix.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <system_error>

#include "texts/texts.h"

namespace serial::internal {

// By number, not by path: port 1 may be another device bound on /dev/ttyS0 (project1-port),
// and the texts name that one.
std::string kernelName(const std::string& path, const std::filesystem::path& sysfs) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  const std::string number =
      std::to_string(::major(st.st_rdev)) + ":" + std::to_string(::minor(st.st_rdev));
  std::error_code ec;
  const auto target = std::filesystem::read_symlink(sysfs / "dev" / "char" / number, ec);
  return ec ? std::string() : target.filename().string();
}

std::string shownDevice(const std::string& path, const std::string& name) {
  if (name.empty() || path == "/dev/" + name) return path;
  return texts::text(texts::Text::DeviceAs, {name, path});
}

}  // namespace serial::internal
