#include "win32/wide.h"

#include <windows.h>

#include <climits>

namespace win32 {

std::string toUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX / 3) return {};
  const int length = static_cast<int>(text.size());
  std::string out(text.size() * 3, '\0');  // every UTF-16 unit takes at most three bytes
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(),
                                      static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

std::wstring toWide(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const int length = static_cast<int>(utf8.size());
  std::wstring out(utf8.size(), L'\0');  // never more units than bytes
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, out.data(),
                                      static_cast<int>(out.size()));
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

}  // namespace win32
