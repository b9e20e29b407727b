#pragma once

// The program's one window, Form1, with its button Command1 and serial control MSComm1.
// Each platform builds it with its own toolkit (form1_win32.cpp, form1_fltk.cpp), laid out
// by form1_layout.h.

namespace app {

inline constexpr const char* kFormCaption = "Form1";
inline constexpr const char* kButtonCaption = "EpsonRP-U420(COM1-TEST)";
inline constexpr const char* kProgramTitle = "Project1";

// Shows Form1 and runs its event loop until the window closes or an error ends the program.
// Returns the process's exit code.
int runForm1();

}  // namespace app
