#include <windows.h>

#include <climits>
#include <stdexcept>
#include <system_error>

#include "serial/big5.h"

namespace serial {
namespace {

// Traditional Chinese Big5, named outright: the user's ANSI code page may be anything.
constexpr UINT kBig5 = 950;

bool isSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Converts into `out` (at least two bytes a character); -1 when a character has no Big5
// form. Without WC_NO_BEST_FIT_CHARS "é" would quietly become "e".
int convert(std::u16string_view text, char* out, int outSize) {
  BOOL usedDefault = FALSE;
  const int n = ::WideCharToMultiByte(
      kBig5, WC_NO_BEST_FIT_CHARS, reinterpret_cast<const wchar_t*>(text.data()),
      static_cast<int>(text.size()), out, outSize, nullptr, &usedDefault);
  if (n == 0) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "WideCharToMultiByte(950)");
  }
  return usedDefault ? -1 : n;
}

// Only runs once a text has been refused: which character was it?
std::size_t firstUnconvertible(std::u16string_view text) {
  char bytes[4];
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A surrogate, paired or not, never has a Big5 form; Windows would send "?" for it.
    if (isSurrogate(text[i]) || convert(text.substr(i, 1), bytes, sizeof bytes) < 0) return i;
  }
  return text.size();
}

}  // namespace

std::optional<std::string> toBig5(std::u16string_view text, std::size_t* badIndex) {
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX / 2) throw std::length_error("toBig5: text too long");
  std::string out(text.size() * 2, '\0');
  bool refused = false;
  for (char16_t c : text) refused = refused || isSurrogate(c);
  if (!refused) {
    const int n = convert(text, out.data(), static_cast<int>(out.size()));
    if (n >= 0) {
      out.resize(static_cast<std::size_t>(n));
      return out;
    }
  }
  if (badIndex) *badIndex = firstUnconvertible(text);
  return std::nullopt;
}

}  // namespace serial
