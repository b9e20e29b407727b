#include "virtual-printer/chatter.h"

#include <array>

namespace vprinter {

std::span<const std::uint8_t> Chatter::next() {
  // A status byte alone, a DLE EOT style reply, noise, and a stray line end.
  static constexpr std::array<std::uint8_t, 1> kStatus{0x12};
  static constexpr std::array<std::uint8_t, 3> kReply{0x10, 0x04, 0x12};
  static constexpr std::array<std::uint8_t, 2> kNoise{0x00, 0xFF};
  static constexpr std::array<std::uint8_t, 2> kLineEnd{0x0D, 0x0A};
  static constexpr std::array<std::span<const std::uint8_t>, 4> kBursts{kStatus, kReply, kNoise,
                                                                        kLineEnd};
  const auto burst = kBursts[burst_];
  burst_ = (burst_ + 1) % kBursts.size();
  return burst;
}

}  // namespace vprinter
