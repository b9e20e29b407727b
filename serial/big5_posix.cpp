#include <iconv.h>

#include <bit>
#include <cerrno>
#include <memory>
#include <system_error>

#include "serial/big5.h"

namespace serial {
namespace {

struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};
using Iconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

}  // namespace

std::optional<std::string> toBig5(std::u16string_view text, std::size_t* badIndex) {
  // CP950 rather than plain BIG5: it is the code page Windows printers' firmware follows.
  iconv_t raw = iconv_open("CP950", kUtf16);
  if (raw == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr): iconv's own
    throw std::system_error(errno, std::generic_category(), "iconv_open(CP950)");
  }
  const Iconv cd(raw);
  std::string out(text.size() * 2, '\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
  std::size_t inLeft = text.size() * sizeof(char16_t);
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  if (iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
    // Every Big5 character fits in two bytes, so only an unconvertible character stops us.
    if (badIndex) *badIndex = text.size() - inLeft / sizeof(char16_t);
    return std::nullopt;
  }
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace serial
