#include "app/error_box_fltk.h"

#include "app/form1.h"
#include "app/form1_layout.h"
#include "app/wrap_lines.h"
#include "texts/texts.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cmath>
#include <string_view>

// The program's own box, not fl_alert(): FLTK's message boxes ask its global options, and the
// first question reads and writes FLTK's preference files (see push_button_fltk.cpp).

namespace app {
namespace {

// FLTK draws '@' sequences in labels as symbols: "@@" is a plain '@'.
std::string plainLabel(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c;
    if (c == '@') out += '@';
  }
  return out;
}

}  // namespace

ErrorBox::ErrorBox(const std::string& text, int dpi, int screenX, int screenY)
    : source_(text),
      okText_(texts::text(texts::Text::Ok)),
      window_(1, 1, kProgramTitle),
      icon_(0, 0, 1, 1, "!"),
      message_(0, 0, 1, 1),
      ok_(0, 0, 1, 1, okText_.c_str()) {
  window_.end();
  window_.set_modal();
  icon_.box(FL_THIN_UP_BOX);
  icon_.labelfont(FL_TIMES_BOLD);
  icon_.color(FL_WHITE);
  icon_.labelcolor(FL_RED);
  // Broken into lines here, not by FLTK: it breaks only at spaces, which Chinese lacks.
  message_.align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);
  ok_.callback([](Fl_Widget*, void* box) { static_cast<ErrorBox*>(box)->window_.hide(); }, this);
  layOut(dpi, screenX, screenY);
}

void ErrorBox::run() {
  window_.show();
  (void)ok_.take_focus();
  while (window_.shown()) Fl::wait();
}

void ErrorBox::layOut(int dpi, int screenX, int screenY) {
  // On a small screen the text gets smaller, so that OK always stays in view.
  int areaX = 0, areaY = 0, areaW = 0, areaH = 0;
  Fl::screen_work_area(areaX, areaY, areaW, areaH, screenX, screenY);
  const int margin = scaledFrom96(12, dpi);
  const int icon = scaledFrom96(40, dpi);
  const int buttonW = scaledFrom96(90, dpi);
  const int buttonH = scaledFrom96(26, dpi);
  // The window manager's title bar and borders, in its own unscaled pixels.
  constexpr int kFrameW = 16;
  constexpr int kFrameH = 48;
  const int roomW = areaW - kFrameW;
  const int roomH = areaH - kFrameH;
  // A box draws its label 3 pixels in from either side.
  constexpr int kInset = 3;
  const int widest =
      std::max(std::min(scaledFrom96(400, dpi), roomW - icon - 3 * margin - 2 * kInset), 40);

  int size = scaledFrom96(FL_NORMAL_SIZE, dpi);
  const int smallest = std::min(size, 8);
  int textW = 0, textH = 0;
  for (;; --size) {
    fl_font(FL_HELVETICA, size);
    text_ = plainLabel(wrapLines(source_, widest, [](std::string_view line) {
      return static_cast<int>(std::lround(fl_width(line.data(), static_cast<int>(line.size()))));
    }));
    textW = 0;
    textH = 0;
    fl_measure(text_.c_str(), textW, textH);
    if (3 * margin + std::max(textH, icon) + buttonH <= roomH || size <= smallest) break;
  }
  const int W =
      std::min(std::max(3 * margin + icon + textW + 2 * kInset, buttonW + 2 * margin), roomW);
  const int H = std::min(3 * margin + std::max(textH, icon) + buttonH, roomH);
  window_.resize(areaX + std::max((roomW - W) / 2, 0), areaY + std::max((roomH - H) / 2, 0), W, H);
  icon_.resize(margin, margin, icon, icon);
  icon_.labelsize(scaledFrom96(34, dpi));
  message_.resize(2 * margin + icon, margin, W - 3 * margin - icon, H - 3 * margin - buttonH);
  message_.label(text_.c_str());
  message_.labelsize(size);
  ok_.resize((W - buttonW) / 2, H - margin - buttonH, buttonW, buttonH);
  ok_.labelsize(size);
}

}  // namespace app
