#include "virtual-printer/big5_decoder.h"

#include <utility>

#include "virtual-printer/os_error.h"

namespace vprinter {
namespace {

// NOLINTNEXTLINE(performance-no-int-to-ptr): iconv_open's own failure value
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

}  // namespace

Big5Decoder::Big5Decoder() : cd_(iconv_open("UTF-8", "CP950")) {
  if (cd_ == kNoConverter) throw osError("iconv_open(from CP950 to UTF-8)");
}

Big5Decoder::Big5Decoder(Big5Decoder&& other) noexcept
    : cd_(std::exchange(other.cd_, kNoConverter)) {}

Big5Decoder& Big5Decoder::operator=(Big5Decoder&& other) noexcept {
  if (this != &other) {
    if (cd_ != kNoConverter) iconv_close(cd_);
    cd_ = std::exchange(other.cd_, kNoConverter);
  }
  return *this;
}

Big5Decoder::~Big5Decoder() {
  if (cd_ != kNoConverter) iconv_close(cd_);
}

std::optional<std::string> Big5Decoder::decode(std::uint8_t lead, std::uint8_t trail) {
  char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  char out[8];
  char* inPtr = in;
  std::size_t inLeft = sizeof in;
  char* outPtr = out;
  std::size_t outLeft = sizeof out;
  const std::size_t done = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
  // Back to the initial state so a refused pair cannot affect the next one.
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  if (done == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
  return std::string(out, outPtr);
}

}  // namespace vprinter
