#include <clocale>

#include "app/form1.h"

// The program reads no arguments, files or environment of its own; the C library reads the
// locale's (LANG, LC_ALL, LANGUAGE): the texts' language, and the system's for its own.
int main() {
  (void)std::setlocale(LC_CTYPE, "");
  (void)std::setlocale(LC_MESSAGES, "");
  return app::runForm1();
}
