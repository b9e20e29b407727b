#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// The test receipt as it must appear on the line, one entry per write, written out in hex
// from the receipt's table (Big5 by hand, never through string escapes).
extern const std::array<std::string_view, 16> kGoldenWritesHex;

std::string fromHex(std::string_view hex);
std::string toHex(std::string_view bytes);

// The whole receipt's length, checked against the writes above when this builds.
inline constexpr std::size_t kReceiptBytes = 267;

// The sixteen writes as bytes, and all of them back to back: kReceiptBytes.
std::vector<std::string> goldenWrites();
std::string goldenJob();

// What the printer prints from it, the same on receipt and journal: 22 lines, UTF-8.
std::vector<std::string> goldenLines();

}  // namespace testing_support
