#include <windows.h>

#include "texts/language_win32.h"
#include "texts/texts.h"
#include "win32/wide.h"

namespace texts {
namespace {

constexpr LANGID kChineseTaiwan = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// A string table entry of one language, read in place: LoadStringW would choose the language
// by the thread's, not by ours. Empty when that language lacks it.
std::wstring_view loadString(UINT id, LANGID lang) {
  // Strings live in blocks of 16, each a length and that many UTF-16 units.
  HRSRC found = ::FindResourceExW(nullptr, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                  MAKEINTRESOURCEW(id / 16 + 1), lang);
  if (!found) return {};
  HGLOBAL loaded = ::LoadResource(nullptr, found);
  const auto* p = loaded ? static_cast<const WCHAR*>(::LockResource(loaded)) : nullptr;
  if (!p) return {};
  for (UINT i = 0; i < id % 16; ++i) p += 1 + *p;
  return {p + 1, *p};
}

}  // namespace

LANGID language() {
  static const LANGID chosen =
      ::GetUserDefaultUILanguage() == kChineseTaiwan ? kChineseTaiwan : kEnglish;
  return chosen;
}

std::string text(Text id) {
  // The string tables number the texts from 1, in the order of the .def files.
  const UINT number = static_cast<UINT>(id) + 1;
  auto found = loadString(number, language());
  if (found.empty()) found = loadString(number, kEnglish);
  return win32::toUtf8(found);
}

}  // namespace texts
