#pragma once

#include <string>
#include <string_view>

namespace win32 {

// UTF-16 (the Windows API's strings) to and from UTF-8 (the program's own strings).
// Invalid sequences become U+FFFD rather than failing: these carry messages, not data.
std::string toUtf8(std::wstring_view text);
std::wstring toWide(std::string_view utf8);

}  // namespace win32
