// What std::terminate does in the Windows program: an uncaught exception, or a noexcept function
// that threw. libstdc++'s default prints the exception's demangled type to stderr, which a GUI
// program does not have, and it links the demangler and a printf into the exe. Defining the
// default handler here keeps both out; the user is told instead. A file of its own, chosen in
// CMake, because only the program's exe gets it: the tests keep the default's report on stderr.
#include <windows.h>

#include <cstdlib>

namespace __gnu_cxx {

// NOLINTNEXTLINE(bugprone-reserved-identifier): the name libstdc++ links
[[noreturn]] void __verbose_terminate_handler() {
  static LONG entered = 0;
  if (::InterlockedExchange(&entered, 1) == 0) {
    ::MessageBoxW(nullptr,
                  L"Error 51\n\nInternal error: the program stopped unexpectedly.\n\n"
                  L"The test receipt may not have been printed completely. The program will now "
                  L"end.",
                  L"Project1", MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
  } else {
    // Another thread is already telling the user: the box stays until it is closed.
    for (;;) ::Sleep(INFINITE);
  }
  std::abort();
}

}  // namespace __gnu_cxx
