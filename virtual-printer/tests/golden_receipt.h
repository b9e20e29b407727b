#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter::testing {

// Big5 (code page 950) bytes of a UTF-8 text, converted with iconv when the test runs.
std::string toCp950(std::string_view utf8);

// The test receipt exactly as the host program writes it: 16 writes, 267 bytes.
std::vector<std::string> goldenWrites();
std::string goldenJob();

// What it prints, the same on receipt and journal: 22 lines, UTF-8.
std::vector<std::string> goldenLines();

inline std::span<const std::uint8_t> bytesOf(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

}  // namespace vprinter::testing
