#include "texts/texts.h"

namespace texts {

std::string fill(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    // "{n}" with n a single digit from 1: enough for every text, and no escaping needed.
    if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}' &&
        pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
      const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
      if (n < args.size()) {
        out += *(args.begin() + n);
        i += 2;
        continue;
      }
    }
    out += pattern[i];
  }
  return out;
}

std::string text(Text id, std::initializer_list<std::string_view> args) {
  return fill(text(id), args);
}

}  // namespace texts
