#include <windows.h>

#include "app/form1.h"

// The program reads no arguments, files or environment of its own.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return app::runForm1(); }
