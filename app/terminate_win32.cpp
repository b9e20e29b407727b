// What std::terminate does in the Windows program: an uncaught exception, or a noexcept function
// that threw. libstdc++'s default prints the exception's demangled type to stderr, which a GUI
// program does not have, and it links the demangler and a printf into the exe. Defining the
// default handler here keeps both out; the user is told instead. A file of its own, chosen in
// CMake, because only the program's exe gets it: the tests keep the default's report on stderr.
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
