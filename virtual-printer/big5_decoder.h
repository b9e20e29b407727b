#pragma once

#include <iconv.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vprinter {

// Decodes Big5 (code page 950) double-byte characters to UTF-8 with the C library's converter.
class Big5Decoder {
 public:
  Big5Decoder();
  Big5Decoder(Big5Decoder&& other) noexcept;
  Big5Decoder& operator=(Big5Decoder&& other) noexcept;
  Big5Decoder(const Big5Decoder&) = delete;
  Big5Decoder& operator=(const Big5Decoder&) = delete;
  ~Big5Decoder();

  // The character's UTF-8 text; nothing when code page 950 has no character there.
  std::optional<std::string> decode(std::uint8_t lead, std::uint8_t trail);

 private:
  iconv_t cd_;
};

constexpr bool isBig5Lead(std::uint8_t b) { return b >= 0x81 && b <= 0xFE; }
constexpr bool isBig5Trail(std::uint8_t b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0xA1 && b <= 0xFE);
}

}  // namespace vprinter
