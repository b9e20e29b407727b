#include <gtest/gtest.h>

#include "app/form1_win32.h"

namespace {

TEST(Form1Layout, TwipsBecomePixelsAtTheWindowsDpi) {
  const struct {
    int dpi;
    SIZE client;
    RECT command1;
  } cases[] = {
      {96, {312, 206}, {32, 16, 32 + 241, 16 + 121}},
      {120, {390, 258}, {40, 20, 40 + 301, 20 + 151}},
      {144, {468, 309}, {48, 24, 48 + 362, 24 + 182}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    const auto layout = app::win32::layoutFor(c.dpi);
    EXPECT_EQ(layout.client.cx, c.client.cx);
    EXPECT_EQ(layout.client.cy, c.client.cy);
    EXPECT_EQ(layout.command1.left, c.command1.left);
    EXPECT_EQ(layout.command1.top, c.command1.top);
    EXPECT_EQ(layout.command1.right, c.command1.right);
    EXPECT_EQ(layout.command1.bottom, c.command1.bottom);
  }
}

TEST(Form1Report, TheMessageBoxShowsTheReportInUtf16) {
  const app::ErrorReport report{8010, "COM1 (\\\\.\\COM1): open: 拒絕存取。 (error 5).", true};
  EXPECT_EQ(app::win32::reportText(report),
            L"Error 8010\n\nCOM1 (\\\\.\\COM1): open: \u62D2\u7D55\u5B58\u53D6\u3002 (error 5)."
            L"\n\nNothing was sent to the printer. The program will now end.");
}

}  // namespace
