#include <libintl.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <system_error>

#include "texts/catalog_posix.h"
#include "texts/texts.h"

namespace texts {
namespace {

constexpr const char* kEnglish[] = {
#define PROJECT1_TEXT(name, english) english,
#include "texts/common.def"
#include "texts/posix.def"
#undef PROJECT1_TEXT
};

constexpr const char* kDomain = "project1";

std::once_flag bound;

// Beside the program in a build tree (build/linux/locale), or where the package puts them
// (/usr/bin/Project1 finds /usr/share/locale): the program reads no environment for it.
std::filesystem::path catalogsBesideProgram() {
  std::error_code ec;
  const auto dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
  if (ec) return {};
  for (auto candidate : {dir / "locale", dir.parent_path() / "share" / "locale"}) {
    if (std::filesystem::is_directory(candidate, ec)) return candidate;
  }
  return {};
}

void bind(const std::filesystem::path& dir) {
  if (!dir.empty()) ::bindtextdomain(kDomain, dir.c_str());
  // The texts go to FLTK and stderr as UTF-8 whatever the locale's own character set.
  ::bind_textdomain_codeset(kDomain, "UTF-8");
}

}  // namespace

void useCatalogs(const std::filesystem::path& dir) {
  std::call_once(bound, [&] { bind(dir); });
}

std::string text(Text id) {
  std::call_once(bound, [] { bind(catalogsBesideProgram()); });
  return ::dgettext(kDomain, kEnglish[static_cast<std::size_t>(id)]);
}

}  // namespace texts
