#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "app/form1.h"
#include "app/form1_layout.h"
#include "app/form1_win32.h"
#include "tests/golden/golden_job.h"
#include "tests/support/stand_in_device.h"

namespace {

using app::Form1;
using testing_support::goldenJob;
using testing_support::Line;
using testing_support::standInOpener;
using testing_support::toHex;

// Runs what is queued for this thread through the form's own routing.
void pump(Form1& form) {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) form.dispatch(msg);
}

std::wstring textOf(HWND hwnd) {
  wchar_t text[256] = {};
  ::GetWindowTextW(hwnd, text, 256);
  return text;
}

class Form1Window : public ::testing::Test {
 protected:
  std::shared_ptr<Line> line = std::make_shared<Line>();
  std::vector<std::wstring> alerts;
  Form1 form{standInOpener(line),
             [this](HWND, const std::wstring& text) { alerts.push_back(text); }};
};

TEST_F(Form1Window, IsBuiltAsTheFormSaysWithThePortClosed) {
  form.show(SW_SHOWNOACTIVATE);
  EXPECT_EQ(textOf(form.window()), L"Form1");
  EXPECT_EQ(textOf(form.command1()), L"EpsonRP-U420(COM1-TEST)");
  EXPECT_EQ(::GetWindowLongW(form.window(), GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
  EXPECT_EQ(::GetWindowLongW(form.command1(), GWL_STYLE) & WS_TABSTOP, WS_TABSTOP);

  // The frame is sized so that the client area, not the window, has the form's size.
  const app::Form1Layout layout = app::form1Layout(form.dpi());
  RECT client{};
  ::GetClientRect(form.window(), &client);
  EXPECT_EQ(client.right, layout.clientWidth);
  EXPECT_EQ(client.bottom, layout.clientHeight);
  RECT button{};
  ::GetWindowRect(form.command1(), &button);
  ::MapWindowPoints(nullptr, form.window(), reinterpret_cast<POINT*>(&button), 2);
  EXPECT_EQ(button.left, layout.command1.x);
  EXPECT_EQ(button.top, layout.command1.y);
  EXPECT_EQ(button.right - button.left, layout.command1.width);
  EXPECT_EQ(button.bottom - button.top, layout.command1.height);

  // The button speaks in the system's message font, not the old bitmap System font.
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(form.command1(), WM_GETFONT, 0, 0));
  ASSERT_NE(font, nullptr);
  LOGFONTW used{};
  ::GetObjectW(font, sizeof used, &used);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
  EXPECT_STREQ(used.lfFaceName, metrics.lfMessageFont.lfFaceName);

  EXPECT_FALSE(form.MSComm1().portOpen());
  EXPECT_EQ(line->opens, 0);
}

TEST_F(Form1Window, SpaceOrEnterOnTheFocusedButtonPrintsOnce) {
  form.show(SW_SHOW);
  ASSERT_EQ(::GetFocus(), form.command1());
  const struct {
    const char* name;
    std::vector<std::pair<UINT, WPARAM>> keys;
  } cases[] = {
      {"Space, pressed and released", {{WM_KEYDOWN, VK_SPACE}, {WM_KEYUP, VK_SPACE}}},
      {"Enter", {{WM_KEYDOWN, VK_RETURN}, {WM_KEYUP, VK_RETURN}}},
  };
  int prints = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [message, key] : c.keys) {
      ::PostMessageW(form.command1(), message, key, 1);
      pump(form);
    }
    ++prints;
    EXPECT_EQ(line->opens, prints);
    EXPECT_FALSE(form.exitCode().has_value());
  }
  // Each print went out whole and on its own.
  std::string expected;
  for (int i = 0; i < prints; ++i) expected += goldenJob();
  for (int i = 0; i < 200 && line->released() < prints; ++i) ::Sleep(10);
  EXPECT_EQ(toHex(line->received()), toHex(expected));
  EXPECT_TRUE(alerts.empty());
}

TEST_F(Form1Window, AnErrorIsShownThenEndsTheProgramWithTheErrorCode) {
  line->openError = serial::ErrorCode::InUse;
  form.show(SW_SHOW);
  ::SendMessageW(form.command1(), BM_CLICK, 0, 0);
  pump(form);
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].rfind(L"Error 8010\n\nCOM1 (stand-in): open failed", 0), 0u) << alerts[0];
  EXPECT_EQ(form.exitCode(), app::kErrorExitCode);
  EXPECT_EQ(form.window(), nullptr);  // the window is gone
}

TEST_F(Form1Window, BytesThatFailAfterTheClickReturnedAreReportedToo) {
  line->failAfter = 10;
  form.show(SW_SHOW);
  ::SendMessageW(form.command1(), BM_CLICK, 0, 0);
  // The click returns before the line fails; the failure arrives as a message later.
  for (int i = 0; i < 200 && !form.exitCode(); ++i) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    pump(form);
  }
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].rfind(L"Error 8020\n\n", 0), 0u) << alerts[0];
  EXPECT_EQ(form.exitCode(), app::kErrorExitCode);
}

// Told to quit rather than closed (a session ending, PostQuitMessage): the receipt still
// going out is seen out, and one that fails is reported, as after closing the window.
TEST_F(Form1Window, QuittingEndsAsClosingDoesWithTheReceiptSeenOutOrItsFailureShown) {
  const struct {
    const char* name;
    std::optional<std::size_t> failAfter;
    int quitCode;
    int exitCode;
  } cases[] = {
      {"a line that takes it all", std::nullopt, 0, 0},
      {"quit with a code of its own", std::nullopt, 3, 3},
      {"a line that fails after the click", 200, 0, app::kErrorExitCode},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto slow = std::make_shared<Line>();
    slow->perByte = std::chrono::microseconds(200);  // 53 ms for the receipt: still going out
    slow->failAfter = c.failAfter;
    std::vector<std::wstring> shown;
    Form1 quitting{standInOpener(slow),
                   [&](HWND, const std::wstring& text) { shown.push_back(text); }};
    quitting.show(SW_SHOW);
    ::SendMessageW(quitting.command1(), BM_CLICK, 0, 0);
    ::PostQuitMessage(c.quitCode);
    EXPECT_EQ(quitting.run(), c.exitCode);
    EXPECT_EQ(quitting.window(), nullptr);
    EXPECT_EQ(slow->released(), 1) << "the port was not released before the end";
    if (c.failAfter) {
      EXPECT_EQ(slow->received(), goldenJob().substr(0, *c.failAfter));
      ASSERT_EQ(shown.size(), 1u);
      EXPECT_EQ(shown[0].rfind(L"Error 8020\n\n", 0), 0u) << shown[0];
    } else {
      EXPECT_EQ(toHex(slow->received()), toHex(goldenJob()));
      EXPECT_TRUE(shown.empty());
    }
  }
}

TEST_F(Form1Window, ClosingTheWindowEndsTheProgramWithoutTouchingThePort) {
  form.show(SW_SHOW);
  ::PostMessageW(form.window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(form.run(), 0);
  EXPECT_EQ(line->opens, 0);
  EXPECT_TRUE(alerts.empty());
}

}  // namespace
