#include "virtual-printer/summary_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "virtual-printer/os_error.h"
#include "virtual-printer/path_file.h"

namespace vprinter {

SummaryFile::SummaryFile(std::filesystem::path path) : path_(std::move(path)) {
  fd_ = posix::UniqueFd(
      ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
  if (!fd_) throw osError("open summary " + path_.string());
}

void SummaryFile::appendLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::size_t written = 0;
  if (const int err = writeAll(fd_.get(), text, &written); err != 0) {
    std::string what = "write summary " + path_.string();
    if (written > 0 && !takeBack(written)) what += " (half a line left in it)";
    throw osError(what, err);
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
