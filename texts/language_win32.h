#pragma once

#include <windows.h>

namespace texts {

// The language of every text: Chinese (Taiwan) when that is the system's UI language,
// English (United States) for every other. The system's own texts (FormatMessageW) are asked
// for in it too, so that a box does not mix two languages.
LANGID language();

}  // namespace texts
