#pragma once

#include <filesystem>

namespace texts {

// Takes the translations from `dir` (dir/zh_TW/LC_MESSAGES/project1.mo) rather than from
// beside the program; only before the first text. Which one is used follows the locale
// (setlocale(LC_ALL, "") at start) as gettext decides.
void useCatalogs(const std::filesystem::path& dir);

}  // namespace texts
