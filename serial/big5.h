#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace serial {

// Big5 (code page 950) bytes of a text, with control characters as single bytes.
// Holds no value when a character has no Big5 form; `badIndex` then tells which one.
std::optional<std::string> toBig5(std::u16string_view text, std::size_t* badIndex = nullptr);

}  // namespace serial
