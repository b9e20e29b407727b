#include "app/form1.h"

// The program reads no arguments, files or environment of its own.
int main() { return app::runForm1(); }
