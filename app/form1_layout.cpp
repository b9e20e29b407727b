#include "app/form1_layout.h"

namespace app {
namespace {

// The form is laid out in twips, 1/1440 inch (15 a pixel at 96 dots per inch), so that it has
// the same size in inches at every DPI.
constexpr int kClientWidth = 4680;
constexpr int kClientHeight = 3090;
constexpr int kButtonLeft = 480;
constexpr int kButtonTop = 240;
constexpr int kButtonWidth = 3615;
constexpr int kButtonHeight = 1815;

constexpr int toPixels(int twips, int dpi) { return (twips * dpi + 720) / 1440; }

}  // namespace

Form1Layout form1Layout(int dpi) {
  // Each length on its own, not the far edges: the button keeps its size wherever it starts.
  return Form1Layout{toPixels(kClientWidth, dpi), toPixels(kClientHeight, dpi),
                     PixelRect{toPixels(kButtonLeft, dpi), toPixels(kButtonTop, dpi),
                               toPixels(kButtonWidth, dpi), toPixels(kButtonHeight, dpi)}};
}

int scaledFrom96(int pixels, int dpi) { return (pixels * dpi + 48) / 96; }

}  // namespace app
