#pragma once

#include <FL/Fl_Button.H>

namespace app {

// A push button that answers as Windows' does: a left click on release inside it, Space once on
// release however long it is held, Enter at once and at every repeat; nothing else.
class PushButton : public Fl_Button {
 public:
  using Fl_Button::Fl_Button;

  int handle(int event) override;
  void draw() override;

 private:
  void look(bool down);
  void release(bool click);

  bool mouseDown_ = false;
  bool spaceDown_ = false;
};

}  // namespace app
