#include "path_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "os_error.h"
#include "posix/unique_fd.h"

namespace vprinter {

void writeWholeFile(const std::filesystem::path& path, std::string_view text) {
  std::filesystem::path partial = path;
  partial += ".partial";
  posix::UniqueFd fd(::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) throw osError("create " + partial.string());
  while (!text.empty()) {
    const ssize_t n = ::write(fd.get(), text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw osError("write " + partial.string());
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::close(fd.release()) != 0) throw osError("close " + partial.string());
  if (::rename(partial.c_str(), path.c_str()) != 0) {
    throw osError("rename " + partial.string() + " to " + path.string());
  }
}

}  // namespace vprinter
