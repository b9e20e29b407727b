#include "summary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "os_error.h"

namespace vprinter {

SummaryFile::SummaryFile(std::filesystem::path path) : path_(std::move(path)) {
  fd_ = posix::UniqueFd(
      ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
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
      const int err = errno;
      std::string what = "write summary " + path_.string();
      if (rest.size() < text.size() && !takeBack(text.size() - rest.size())) {
        what += " (half a line left in it)";
      }
      throw osError(what, err);
    }
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Removes the last `written` bytes: the start of a line that could not be finished. We are the
// only writer, so they are at the end of the file.
bool SummaryFile::takeBack(std::size_t written) {
  struct stat st {};
  if (::fstat(fd_.get(), &st) != 0 || st.st_size < static_cast<off_t>(written)) return false;
  return ::ftruncate(fd_.get(), st.st_size - static_cast<off_t>(written)) == 0;
}

}  // namespace vprinter
