// What std::terminate does in the Windows program: a box instead of libstdc++'s report on a
// stderr a GUI program does not have, and no demangler or printf in the exe. Linked into the
// program's exe only: the tests keep the default's report.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "app/error_report.h"
#include "texts/texts.h"
#include "win32/wide.h"

namespace __gnu_cxx {

// NOLINTNEXTLINE(bugprone-reserved-identifier): the name libstdc++ links
void __verbose_terminate_handler() {
  static LONG entered = 0;
  if (::InterlockedExchange(&entered, 1) == 0) {
    static_assert(app::kInternalErrorNumber == 51, "the words' stand-in below names it");
    std::wstring text = L"Error 51";  // should the words themselves fail
    try {
      const app::ErrorReport report{app::kInternalErrorNumber,
                                    texts::text(texts::Text::StoppedUnexpectedly)};
      text = win32::toWide(report.text());
    } catch (...) {  // NOLINT(bugprone-empty-catch): the number alone is still shown
    }
    ::MessageBoxW(nullptr, text.c_str(), L"Project1",
                  MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
  } else {
    // Another thread is already telling the user: the box stays until it is closed.
    for (;;) ::Sleep(INFINITE);
  }
  std::abort();
}

}  // namespace __gnu_cxx
