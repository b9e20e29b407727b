#pragma once

#include <cstdint>
#include <filesystem>

#include "virtual-printer/form.h"

namespace vprinter {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// Where things landed in a picture, so a reader can find the strips.
struct PictureLayout {
  int width = 0;
  int height = 0;
  Rect receipt{};
  Rect journal{};
};

// Colours as 0xRRGGBB.
constexpr std::uint32_t kBackgroundColour = 0x808080;
constexpr std::uint32_t kPaperColour = 0xFBF7EA;
constexpr std::uint32_t kInkColour = 0x1F1B2E;

// Draws the form as two labelled paper strips, receipt left and journal right, and writes it
// as a PNG file (through a temporary name, so a reader never sees half a picture).
PictureLayout writeFormPicture(const Form& form, const std::filesystem::path& path);

}  // namespace vprinter
