#pragma once

#include <windows.h>

namespace texts {

// The language of every text, the system's own (FormatMessageW) too: Chinese (Taiwan) when
// that is the system's UI language, English (United States) for every other.
LANGID language();

}  // namespace texts
