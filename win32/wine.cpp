#include "win32/wine.h"

#include <windows.h>

namespace win32 {

bool underWine() {
  // Wine's ntdll exports its version; Windows' has no such function.
  static const bool wine =
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

}  // namespace win32
