#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter {

struct Options {
  std::filesystem::path outDir = "virtual-printer-out";
  std::filesystem::path summary;   // empty: forms.jsonl in outDir
  std::filesystem::path pathFile;  // empty: none
  bool chatter = false;
  std::optional<int> forms;  // stop after this many; none: until SIGINT, SIGTERM or SIGHUP
  bool quiet = false;
  bool noPictures = false;  // many forms (benchmarks): the summary only
  bool help = false;

  std::filesystem::path summaryPath() const {
    return summary.empty() ? outDir / "forms.jsonl" : summary;
  }
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the arguments after the program name; accepts "--opt value" and "--opt=value".
Options parseOptions(const std::vector<std::string_view>& args);

std::string usage();

}  // namespace vprinter
