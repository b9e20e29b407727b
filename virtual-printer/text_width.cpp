#include "virtual-printer/text_width.h"

#include <cstdint>

namespace vprinter {
namespace {

// East Asian Width W and F blocks, as far as Big5 text can reach them and a bit beyond.
bool isWide(char32_t c) {
  struct Range {
    char32_t first, last;
  };
  static constexpr Range kWide[] = {
      {0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF}, {0x3400, 0x4DBF},
      {0x4E00, 0x9FFF}, {0xA000, 0xA4CF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
      {0xFE30, 0xFE4F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6}, {0x20000, 0x3FFFD},
  };
  for (const Range& r : kWide) {
    if (c >= r.first && c <= r.last) return true;
  }
  return false;
}

}  // namespace

int displayWidth(std::string_view utf8) {
  int width = 0;
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<std::uint8_t>(utf8[i]);
    std::size_t length = b < 0x80           ? 1
                         : (b >> 5) == 0x6  ? 2
                         : (b >> 4) == 0xE  ? 3
                         : (b >> 3) == 0x1E ? 4
                                            : 1;
    if (i + length > utf8.size()) length = 1;
    char32_t c = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      c = (c << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3F);
    }
    width += isWide(c) ? 2 : 1;
    i += length;
  }
  return width;
}

}  // namespace vprinter
