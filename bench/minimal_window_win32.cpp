// The least a Win32 window program does: one window with one button, ended by closing it. Built
// with the same flags as Project1.exe, its start-up under Wine is what Project1's is set against.
#include <windows.h>

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    ::PostQuitMessage(0);
    return 0;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = L"MinimalWindow";
  if (!::RegisterClassW(&windowClass)) return 2;
  HWND window = ::CreateWindowExW(0, L"MinimalWindow", L"Minimal", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 300, 200, nullptr, nullptr,
                                  instance, nullptr);
  if (!window) return 2;
  ::CreateWindowExW(0, L"BUTTON", L"Button", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, 10, 10,
                    200, 40, window, nullptr, instance, nullptr);
  ::ShowWindow(window, show);
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
