#include <gtest/gtest.h>

#include "app/form1_layout.h"

namespace {

TEST(Form1Layout, TwipsBecomePixelsAtTheDisplaysDpiRoundedToTheNearest) {
  const struct {
    int dpi;
    int clientWidth;
    int clientHeight;
    app::PixelRect command1;
  } cases[] = {
      {96, 312, 206, {32, 16, 241, 121}},
      {120, 390, 258, {40, 20, 301, 151}},  // 257.5 rounds up; 301.25 and 151.25 down
      {144, 468, 309, {48, 24, 362, 182}},  // 361.5 and 181.5 round up
      {72, 234, 155, {24, 12, 181, 91}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    const app::Form1Layout layout = app::form1Layout(c.dpi);
    EXPECT_EQ(layout.clientWidth, c.clientWidth);
    EXPECT_EQ(layout.clientHeight, c.clientHeight);
    EXPECT_EQ(layout.command1.x, c.command1.x);
    EXPECT_EQ(layout.command1.y, c.command1.y);
    EXPECT_EQ(layout.command1.width, c.command1.width);
    EXPECT_EQ(layout.command1.height, c.command1.height);
  }
}

TEST(Form1Layout, LengthsDrawnAt96DpiScaleToTheNearestPixel) {
  const struct {
    int pixels;
    int dpi;
    int scaled;
  } cases[] = {
      {14, 96, 14}, {14, 120, 18}, {14, 144, 21}, {12, 120, 15}, {90, 168, 158}, {26, 72, 20},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::scaledFrom96(c.pixels, c.dpi), c.scaled) << c.pixels << " at " << c.dpi;
  }
}

}  // namespace
