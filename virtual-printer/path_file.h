#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>

namespace vprinter {

// Writes all of the bytes, going on after signals. Returns 0, or the errno of the write that
// failed; `written` then says how many went before it.
int writeAll(int fd, std::string_view bytes, std::size_t* written = nullptr);

// Creates the file through a temporary name, so a reader waiting for it sees all of it or
// nothing: `fill` writes the open temporary (and throws if it cannot), which is then closed
// and renamed into place. On any failure the temporary is removed.
void writeThroughPartial(const std::filesystem::path& path,
                         const std::function<void(int fd, const std::string& partial)>& fill);

// Writes the text through a temporary name.
void writeWholeFile(const std::filesystem::path& path, std::string_view text);

}  // namespace vprinter
