#include <gtest/gtest.h>

#include "app/form1_win32.h"

namespace {

TEST(Form1Report, TheMessageBoxShowsTheReportInUtf16) {
  const app::ErrorReport report{8010, "COM1 (\\\\.\\COM1): open: 拒絕存取。 (error 5).", true};
  EXPECT_EQ(app::reportText(report),
            L"Error 8010\n\nCOM1 (\\\\.\\COM1): open: \u62D2\u7D55\u5B58\u53D6\u3002 (error 5)."
            L"\n\nNothing was sent to the printer. The program will now end.");
}

}  // namespace
