#include "virtual-printer/path_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "posix/unique_fd.h"
#include "virtual-printer/os_error.h"

namespace vprinter {

int writeAll(int fd, std::string_view bytes, std::size_t* written) {
  const std::size_t size = bytes.size();
  int error = 0;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (written != nullptr) *written = size - bytes.size();
  return error;
}

void writeThroughPartial(const std::filesystem::path& path,
                         const std::function<void(int fd, const std::string& partial)>& fill) {
  std::filesystem::path partial = path;
  partial += ".partial";
  posix::UniqueFd fd(::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) throw osError("create " + partial.string());
  try {
    fill(fd.get(), partial.string());
    if (::close(fd.release()) != 0) throw osError("close " + partial.string());
    if (::rename(partial.c_str(), path.c_str()) != 0) {
      throw osError("rename " + partial.string() + " to " + path.string());
    }
  } catch (...) {
    fd.reset();
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    throw;
  }
}

void writeWholeFile(const std::filesystem::path& path, std::string_view text) {
  writeThroughPartial(path, [text](int fd, const std::string& partial) {
    if (const int err = writeAll(fd, text); err != 0) throw osError("write " + partial, err);
  });
}

}  // namespace vprinter
