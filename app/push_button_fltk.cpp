#include "app/push_button_fltk.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

// FLTK 1.3 reads its global options (visible focus, tooltips) from Fl_Preferences the first
// time anything asks for them, and writes the preference files back: $HOME/.fltk/fltk.org/
// fltk.prefs, and as root /etc/fltk. Fl_Button's handling and drawing of the focus ask, so this
// button decides and draws for itself, and the program touches no file.

namespace app {

int PushButton::handle(int event) {
  switch (event) {
    case FL_ENTER:
    case FL_LEAVE:
      return 1;
    case FL_FOCUS:
      redraw();
      return 1;
    case FL_UNFOCUS:
      // Windows lets a held Space go without a click when the focus moves away.
      spaceDown_ = false;
      look(mouseDown_ && Fl::event_inside(this));
      redraw();
      return 1;
    case FL_PUSH:
      if (Fl::event_button() != FL_LEFT_MOUSE) return 0;
      (void)take_focus();
      mouseDown_ = true;
      look(true);
      return 1;
    case FL_DRAG:
      if (mouseDown_) look(spaceDown_ || Fl::event_inside(this));
      return 1;
    case FL_RELEASE:
      if (!mouseDown_ || Fl::event_button() != FL_LEFT_MOUSE) return 1;
      mouseDown_ = false;
      if (!spaceDown_) release(Fl::event_inside(this));
      return 1;
    case FL_KEYBOARD:
      if (Fl::focus() != this || (Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META))) {
        return 0;
      }
      if (Fl::event_key() == ' ') {
        spaceDown_ = true;
        look(true);
        return 1;
      }
      // As the dialog manager does for the default button.
      if (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) {
        do_callback();
        return 1;
      }
      return 0;
    case FL_KEYUP:
      if (Fl::event_key() != ' ' || !spaceDown_) return 0;
      spaceDown_ = false;
      if (!mouseDown_) release(true);
      return 1;
    default:
      // Escape and everything else are left to others.
      return 0;
  }
}

void PushButton::draw() {
  const bool down = value() != 0;
  const Fl_Color face = down ? selection_color() : color();
  draw_box(down ? (down_box() ? down_box() : fl_down(box())) : box(), face);
  const Fl_Color text = labelcolor();
  if (down) labelcolor(fl_contrast(text, face));
  draw_label();
  labelcolor(text);
  if (Fl::focus() == this) {
    // Fl_Widget::draw_focus's dotted frame, without its question to the global options.
    const Fl_Boxtype b = box();
    fl_color(fl_contrast(FL_BLACK, color()));
    fl_line_style(FL_DOT);
    fl_rect(x() + Fl::box_dx(b), y() + Fl::box_dy(b), w() - Fl::box_dw(b) - 1,
            h() - Fl::box_dh(b) - 1);
    fl_line_style(FL_SOLID);
  }
}

void PushButton::look(bool down) {
  if ((value() != 0) != down) value(down ? 1 : 0);
}

void PushButton::release(bool click) {
  look(false);
  if (click) do_callback();
}

}  // namespace app
