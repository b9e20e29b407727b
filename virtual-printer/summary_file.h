#pragma once

#include <filesystem>
#include <string_view>

#include "posix/unique_fd.h"

namespace vprinter {

// The forms summary: emptied when opened, then one complete line appended per write, so a
// reader never sees half a line: a line the disk has no room for is taken back whole.
class SummaryFile {
 public:
  explicit SummaryFile(std::filesystem::path path);

  void appendLine(std::string_view line);
  const std::filesystem::path& path() const { return path_; }

 private:
  bool takeBack(std::size_t written);

  std::filesystem::path path_;
  posix::UniqueFd fd_;
};

}  // namespace vprinter
