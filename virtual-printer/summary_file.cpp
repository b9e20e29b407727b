#include "summary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "os_error.h"

namespace vprinter {

SummaryFile::SummaryFile(std::filesystem::path path) : path_(std::move(path)) {
  fd_ = UniqueFd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
  if (!fd_) throw osError("open summary " + path_.string());
}

void SummaryFile::appendLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::string_view rest = text;
  while (!rest.empty()) {
    const ssize_t n = ::write(fd_.get(), rest.data(), rest.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw osError("write summary " + path_.string());
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace vprinter
