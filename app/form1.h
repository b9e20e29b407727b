#pragma once

// The program's one window, Form1, with its button Command1 and serial control MSComm1.
// Each platform builds it with its own toolkit (form1_win32.cpp, form1_fltk.cpp).

namespace app {

// Layout in twips, 1/1440 inch; 15 twips a pixel at 96 dots per inch.
inline constexpr int kClientWidth = 4680;
inline constexpr int kClientHeight = 3090;
inline constexpr int kButtonLeft = 480;
inline constexpr int kButtonTop = 240;
inline constexpr int kButtonWidth = 3615;
inline constexpr int kButtonHeight = 1815;

constexpr int toPixels(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

inline constexpr const char* kFormCaption = "Form1";
inline constexpr const char* kButtonCaption = "EpsonRP-U420(COM1-TEST)";
inline constexpr const char* kProgramTitle = "Project1";

// Shows Form1 and runs its event loop until the window closes or an error ends the program.
// Returns the process's exit code.
int runForm1();

}  // namespace app
