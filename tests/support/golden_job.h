#pragma once

#include <array>
#include <string>
#include <string_view>

namespace testing_support {

// The test receipt as it must appear on the line, one entry per write, written out in hex
// from the receipt's table (Big5 by hand, never through string escapes).
extern const std::array<std::string_view, 16> kGoldenWritesHex;

std::string fromHex(std::string_view hex);
std::string toHex(std::string_view bytes);

// All sixteen writes back to back: 267 bytes.
std::string goldenJob();

}  // namespace testing_support
