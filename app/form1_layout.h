#pragma once

namespace app {

// A rectangle in pixels, from the top left corner of the area it lies in.
struct PixelRect {
  int x;
  int y;
  int width;
  int height;
};

// Form1 in pixels: the size of its client area, and Command1's place in it.
struct Form1Layout {
  int clientWidth;
  int clientHeight;
  PixelRect command1;
};

// Form1's layout at `dpi` dots per inch, each length rounded to the nearest pixel.
Form1Layout form1Layout(int dpi);

// A length of `pixels` at 96 dots per inch, in pixels at `dpi`, rounded to the nearest.
int scaledFrom96(int pixels, int dpi);

}  // namespace app
