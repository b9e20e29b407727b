#pragma once

#include <filesystem>
#include <string_view>

namespace vprinter {

// Writes the text through a temporary name, so a reader waiting for the file sees all of it.
void writeWholeFile(const std::filesystem::path& path, std::string_view text);

}  // namespace vprinter
