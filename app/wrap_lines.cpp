#include "app/wrap_lines.h"

#include <cctype>
#include <cstddef>
#include <vector>

// FLTK wraps a label only at spaces, and Chinese has none: a Chinese sentence would be one
// word as wide as the screen, cut off at its edge. These are the line-breaking rules of CJK
// text (UAX #14 in brief, and the kinsoku rules for punctuation).

namespace app {
namespace {

struct Decoded {
  char32_t c;
  std::size_t size;
};

// One UTF-8 sequence; a broken one is taken byte by byte.
Decoded decode(std::string_view s, std::size_t at) {
  const auto b = static_cast<unsigned char>(s[at]);
  const std::size_t size = b < 0x80         ? 1
                           : b >> 5 == 0x6  ? 2
                           : b >> 4 == 0xE  ? 3
                           : b >> 3 == 0x1E ? 4
                                            : 1;
  if (size == 1 || at + size > s.size()) return {b, 1};
  char32_t c = b & (0x7F >> size);
  for (std::size_t i = 1; i < size; ++i) {
    const auto next = static_cast<unsigned char>(s[at + i]);
    if (next >> 6 != 0x2) return {b, 1};
    c = (c << 6) | (next & 0x3F);
  }
  return {c, size};
}

bool wide(char32_t c) {
  return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFF);
}

// Never at the start of a line.
bool closing(char32_t c) {
  switch (c) {
    case U'、':
    case U'。':
    case U'，':
    case U'．':
    case U'：':
    case U'；':
    case U'？':
    case U'！':
    case U'）':
    case U'」':
    case U'』':
    case U'】':
    case U'〕':
    case U'〉':
    case U'》':
    case U'…':
    case U')':
    case U',':
    case U'.':
    case U':':
    case U';':
    case U'?':
    case U'!':
    case U']':
      return true;
    default:
      return false;
  }
}

// Never at the end of a line.
bool opening(char32_t c) {
  switch (c) {
    case U'（':
    case U'「':
    case U'『':
    case U'【':
    case U'〔':
    case U'〈':
    case U'《':
    case U'(':
    case U'[':
      return true;
    default:
      return false;
  }
}

struct Piece {
  std::string_view text;
  bool afterSpace;  // a space stood before it, which a line's start drops
};

// A paragraph cut where a line may break.
std::vector<Piece> pieces(std::string_view paragraph) {
  std::vector<Piece> out;
  std::size_t start = 0;
  bool afterSpace = false;
  char32_t previous = 0;
  for (std::size_t at = 0; at < paragraph.size();) {
    const Decoded d = decode(paragraph, at);
    // A word and the number after it stay together: "errno 2", "Error 8002", "port 1".
    const bool numbered = d.c == U' ' && previous < 0x80 &&
                          std::isalpha(static_cast<int>(previous)) && at + 1 < paragraph.size() &&
                          std::isdigit(static_cast<unsigned char>(paragraph[at + 1]));
    if (d.c == U' ' && !numbered) {
      if (at > start) out.push_back({paragraph.substr(start, at - start), afterSpace});
      afterSpace = true;
      start = at + 1;
      previous = 0;
    } else {
      if (at > start && previous != 0 && (wide(previous) || wide(d.c)) && !closing(d.c) &&
          !opening(previous)) {
        out.push_back({paragraph.substr(start, at - start), afterSpace});
        afterSpace = false;
        start = at;
      }
      previous = d.c;
    }
    at += d.size;
  }
  if (paragraph.size() > start) out.push_back({paragraph.substr(start), afterSpace});
  return out;
}

}  // namespace

std::string wrapLines(std::string_view text, int width, const MeasureText& measure) {
  std::string out;
  for (std::size_t from = 0;;) {
    const std::size_t end = text.find('\n', from);
    const std::string_view paragraph =
        text.substr(from, end == std::string_view::npos ? std::string_view::npos : end - from);
    std::string line;
    for (const Piece& piece : pieces(paragraph)) {
      if (line.empty()) {
        line = piece.text;
        continue;
      }
      std::string longer = line;
      if (piece.afterSpace) longer += ' ';
      longer += piece.text;
      if (measure(longer) <= width) {
        line = std::move(longer);
      } else {
        out += line;
        out += '\n';
        line = piece.text;
      }
    }
    out += line;
    if (end == std::string_view::npos) break;
    out += '\n';
    from = end + 1;
  }
  return out;
}

}  // namespace app
