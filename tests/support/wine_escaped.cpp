#include <cstdio>

#include "tests/support/language.h"

namespace testing_support {

std::string wineEscaped(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // Two- and three-byte forms: every character the texts use is in the BMP.
    const int extra = c >= 0xE0 ? 2 : 1;
    unsigned code = c & (extra == 2 ? 0x0Fu : 0x1Fu);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) {
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    }
    char hex[8];
    (void)std::snprintf(hex, sizeof hex, "\\%04x", code);
    out += hex;
    i += 1 + extra;
  }
  return out;
}

}  // namespace testing_support
