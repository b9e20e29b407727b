#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace app {

// The width of a piece of UTF-8 text, in any unit.
using MeasureText = std::function<int(std::string_view)>;

// `text` (UTF-8) broken into lines no wider than `width`, joined with '\n'. It breaks at a
// space (which goes), but not between a word and the number after it, and between Chinese
// characters, never before closing punctuation (，。、：）」…) nor after opening (（「…). A
// piece too wide for any line stands alone on one. Each '\n' of `text` stays.
std::string wrapLines(std::string_view text, int width, const MeasureText& measure);

}  // namespace app
