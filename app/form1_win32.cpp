#include "app/form1_win32.h"

#include <commctrl.h>

#include <optional>
#include <system_error>

#include "app/form1.h"
#include "app/form1_layout.h"
#include "win32/wide.h"

namespace app {

using win32::toWide;

namespace {

constexpr wchar_t kClassName[] = L"Project1.Form1";
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT;
constexpr int kDefaultDpi = 96;

// Functions newer than Windows 7, looked up so that the program still starts there.
template <typename Function>
Function user32Function(const char* name) {
  const FARPROC proc = ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name);
  // Through void(*)(): the one function pointer type GCC lets any other be cast from.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

int screenDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kDefaultDpi;
}

// The DPI the window is shown at: its monitor's, when the system tells each window its own.
int windowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = user32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow && hwnd) {
    if (const UINT dpi = getDpiForWindow(hwnd)) return static_cast<int>(dpi);
  }
  return screenDpi();
}

// The outer size that gives Form1's client area at `dpi`.
SIZE windowSizeFor(int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = user32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  const Form1Layout layout = form1Layout(dpi);
  RECT rect{0, 0, layout.clientWidth, layout.clientHeight};
  if (!adjustForDpi || !adjustForDpi(&rect, kStyle, FALSE, kExStyle, static_cast<UINT>(dpi))) {
    ::AdjustWindowRectEx(&rect, kStyle, FALSE, kExStyle);
  }
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

// The system's message font, at the window's DPI.
HFONT createMessageFont(int dpi) {
  using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
  static const auto forDpi = user32Function<ForDpiFn>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (forDpi &&
      forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi))) {
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
  }
  if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return nullptr;
  }
  const int systemDpi = screenDpi();
  if (dpi != systemDpi) {
    metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, dpi, systemDpi);
  }
  return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

HINSTANCE thisModule() { return ::GetModuleHandleW(nullptr); }

void registerClass(WNDPROC windowProc) {
  static const ATOM atom = [windowProc] {
    // The window and its button take the visual style the manifest asks for.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = windowProc;
    wc.hInstance = thisModule();
    wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    return ::RegisterClassExW(&wc);
  }();
  if (!atom)
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "RegisterClassEx");
}

}  // namespace

std::wstring reportText(const ErrorReport& report) { return toWide(report.text()); }

void showErrorBox(HWND owner, const std::wstring& text) {
  ::MessageBoxW(owner, text.c_str(), toWide(kProgramTitle).c_str(), MB_OK | MB_ICONERROR);
}

Form1::Form1(serial::DeviceOpener opener, Alert alert)
    : events_(std::move(opener)), alert_(std::move(alert)) {
  registerClass(&Form1::windowProc);
  const int systemDpi = screenDpi();
  const SIZE size = windowSizeFor(systemDpi);
  window_ =
      ::CreateWindowExW(kExStyle, kClassName, toWide(kFormCaption).c_str(), kStyle, CW_USEDEFAULT,
                        CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, thisModule(), this);
  if (!window_) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "CreateWindowEx(Form1)");
  }
  command1_ = ::CreateWindowExW(0, L"BUTTON", toWide(kButtonCaption).c_str(),
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0,
                                window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCommand1Id)),
                                thisModule(), nullptr);
  if (!command1_) {
    const DWORD error = ::GetLastError();
    ::DestroyWindow(window_);
    throw std::system_error(static_cast<int>(error), std::system_category(),
                            "CreateWindowEx(Command1)");
  }
  // A monitor of its own may give the window another DPI than the system's.
  applyDpi(windowDpi(window_), nullptr);
  // A posted message reaches this thread's loop from any thread; one the window is gone for is
  // dropped with it.
  events_.wakeOnLateFailure(
      [window = window_] { ::PostMessageW(window, kLateFailureMessage, 0, 0); });
}

Form1::~Form1() {
  if (window_) ::DestroyWindow(window_);
}

void Form1::show(int showCommand) {
  ::ShowWindow(window_, showCommand);
  ::UpdateWindow(window_);
  ::SetFocus(command1_);
}

void Form1::dispatch(MSG& msg) {
  // The dialog manager gives a focused push button Space (press and release) and Enter.
  if (window_ && ::IsDialogMessageW(window_, &msg)) return;
  ::TranslateMessage(&msg);
  ::DispatchMessageW(&msg);
}

int Form1::run() {
  MSG msg;
  while (!exitCode_) {
    const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
    if (got > 0) {
      dispatch(msg);
      continue;
    }
    // Told to quit (WM_QUIT), or the message queue failed: the window goes as if closed,
    // and a receipt still on its way is seen out as it is then.
    quitCode_ = got == 0 ? static_cast<int>(msg.wParam) : kErrorExitCode;
    if (window_) ::DestroyWindow(window_);
    if (!exitCode_) exitCode_ = 0;
  }
  // Closed right after a click: the receipt may still be going out, and may still fail.
  if (const auto report = events_.close()) {
    alert_(nullptr, reportText(*report));
    return events_.exitCode();
  }
  return *exitCode_ == 0 && quitCode_ ? *quitCode_ : *exitCode_;
}

void Form1::applyDpi(int dpi, const RECT* suggested) {
  dpi_ = dpi;
  const SIZE size = windowSizeFor(dpi);
  RECT now{};
  ::GetWindowRect(window_, &now);
  const RECT& at = suggested ? *suggested : now;
  ::SetWindowPos(window_, nullptr, at.left, at.top, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE | (suggested ? 0 : SWP_NOMOVE));
  const PixelRect button = form1Layout(dpi).command1;
  ::MoveWindow(command1_, button.x, button.y, button.width, button.height, TRUE);
  if (HFONT font = createMessageFont(dpi)) {
    ::SendMessageW(command1_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    font_.reset(font);  // the button now holds the new one: the old one may go
  }
}

void Form1::end(const std::optional<ErrorReport>& report) {
  // An event that ended the program: say why, then go. MSComm1 drains as it goes.
  if (!report) return;
  alert_(window_, reportText(*report));
  ::DestroyWindow(window_);
}

LRESULT CALLBACK Form1::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* form = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    form->window_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Form1*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!form) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return form->handle(message, wParam, lParam);
}

LRESULT Form1::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kCommand1Id && HIWORD(wParam) == BN_CLICKED) {
        end(events_.click());
        return 0;
      }
      break;
    case kLateFailureMessage:
      end(events_.lateFailure());
      return 0;
    case WM_SETFOCUS:
      // Coming back to the window puts the focus back on its only control.
      if (command1_) ::SetFocus(command1_);
      return 0;
    case WM_DPICHANGED:
      applyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_DESTROY:
      exitCode_ = events_.exitCode();
      break;
    case WM_NCDESTROY: {
      const HWND hwnd = window_;
      window_ = nullptr;
      command1_ = nullptr;
      ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      return ::DefWindowProcW(hwnd, message, wParam, lParam);
    }
    default:
      break;
  }
  return ::DefWindowProcW(window_, message, wParam, lParam);
}

int runForm1() {
  std::optional<Form1> form;
  try {
    form.emplace();
  } catch (const std::exception& e) {
    // No window to own it: the box stands on its own.
    showErrorBox(nullptr, toWide(noWindowText(e.what())));
    return kNoWindowExitCode;
  }
  form->show(SW_SHOWDEFAULT);
  return form->run();
}

}  // namespace app
