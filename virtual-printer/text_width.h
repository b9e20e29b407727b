#pragma once

#include <string_view>

namespace vprinter {

// Terminal columns a UTF-8 text takes: East Asian wide and fullwidth characters take two.
// Our own check rather than wcwidth(), which needs a UTF-8 locale set for the whole process.
int displayWidth(std::string_view utf8);

}  // namespace vprinter
