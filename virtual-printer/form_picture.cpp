#include "virtual-printer/form_picture.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "virtual-printer/os_error.h"
#include "virtual-printer/path_file.h"
#include "virtual-printer/text_width.h"

namespace vprinter {
namespace {

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct FontDeleter {
  void operator()(PangoFontDescription* f) const { pango_font_description_free(f); }
};
struct GObjectDeleter {
  void operator()(void* object) const { g_object_unref(object); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;
using Font = std::unique_ptr<PangoFontDescription, FontDeleter>;
using Layout = std::unique_ptr<PangoLayout, GObjectDeleter>;

constexpr int kTextPx = 18;
constexpr int kLabelPx = 15;
constexpr int kMargin = 24;
constexpr int kLabelHeight = 28;
constexpr int kGap = 32;
constexpr int kPadX = 18;
constexpr int kPadY = 16;
constexpr int kLeading = 4;
// Cairo refuses surfaces over 32767 pixels a side; a runaway form is cut short rather than lost:
// at most kMaxRows lines, and lines no wider than twice the paper.
constexpr std::size_t kMaxRows = 400;
// The printer wraps at the paper's width; a wider line can only come from elsewhere.
constexpr int kMaxDrawnColumns = 2 * kPaperColumns;

// The line cut to at most kMaxDrawnColumns, never inside a character.
std::string clipped(const std::string& line) {
  std::size_t i = 0;
  int columns = 0;
  while (i < line.size()) {
    const auto b = static_cast<unsigned char>(line[i]);
    std::size_t length = 1;
    while (b >= 0xC0 && length < 4 && i + length < line.size() &&
           (static_cast<unsigned char>(line[i + length]) & 0xC0) == 0x80) {
      ++length;
    }
    columns += displayWidth(std::string_view(line).substr(i, length));
    if (columns > kMaxDrawnColumns) return line.substr(0, i) + "…";
    i += length;
  }
  return line;
}

// The lines a strip shows: all of them, or the first ones and a note of how many are left out
// (counting those the form itself did not keep).
std::vector<std::string> shown(const std::vector<std::string>& lines, std::uint64_t leftOut) {
  const std::size_t kept = lines.size() <= kMaxRows && leftOut == 0 ? lines.size() : kMaxRows - 1;
  std::vector<std::string> out;
  out.reserve(kept + 1);
  for (std::size_t i = 0; i < kept && i < lines.size(); ++i) out.push_back(clipped(lines[i]));
  if (out.size() < lines.size() + leftOut) {
    out.push_back("… " + std::to_string(lines.size() + leftOut - out.size()) +
                  " more lines not drawn");
  }
  return out;
}

void setColour(cairo_t* cr, std::uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       (rgb & 0xFF) / 255.0);
}

void check(cairo_status_t status, const std::string& operation) {
  if (status != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error(operation + ": " + cairo_status_to_string(status));
  }
}

Font font(const char* family, int px) {
  Font f(pango_font_description_new());
  pango_font_description_set_family(f.get(), family);
  pango_font_description_set_absolute_size(f.get(), px * PANGO_SCALE);
  return f;
}

Layout layout(cairo_t* cr, const PangoFontDescription* f, const std::string& text) {
  Layout l(pango_cairo_create_layout(cr));
  pango_layout_set_font_description(l.get(), f);
  pango_layout_set_text(l.get(), text.data(), static_cast<int>(text.size()));
  return l;
}

// Logical width and height in pixels.
std::pair<int, int> extent(PangoLayout* l) {
  int width = 0;
  int height = 0;
  pango_layout_get_pixel_size(l, &width, &height);
  return {width, height};
}

void drawStrip(cairo_t* cr, const Rect& strip, const char* label,
               const PangoFontDescription* labelFont, const PangoFontDescription* textFont,
               const std::vector<std::string>& lines, int pitch) {
  setColour(cr, 0xF2F2F2);
  Layout title = layout(cr, labelFont, label);
  cairo_move_to(cr, strip.x, kMargin);
  pango_cairo_show_layout(cr, title.get());

  setColour(cr, kPaperColour);
  cairo_rectangle(cr, strip.x, strip.y, strip.width, strip.height);
  cairo_fill(cr);

  // Ink stays on the paper, whatever the glyphs.
  cairo_save(cr);
  cairo_rectangle(cr, strip.x, strip.y, strip.width, strip.height);
  cairo_clip(cr);
  setColour(cr, kInkColour);
  int y = strip.y + kPadY;
  for (const std::string& line : lines) {
    if (!line.empty()) {
      Layout l = layout(cr, textFont, line);
      cairo_move_to(cr, strip.x + kPadX, y);
      pango_cairo_show_layout(cr, l.get());
    }
    y += pitch;
  }
  cairo_restore(cr);
}

struct PngSink {
  int fd;
  int error = 0;
};

cairo_status_t writeToSink(void* closure, const unsigned char* data, unsigned int length) {
  auto* sink = static_cast<PngSink*>(closure);
  sink->error = writeAll(sink->fd, {reinterpret_cast<const char*>(data), length});
  return sink->error == 0 ? CAIRO_STATUS_SUCCESS : CAIRO_STATUS_WRITE_ERROR;
}

// Our own sink rather than cairo's file writer, so a failure can name the OS reason.
void writePng(cairo_surface_t* surface, const std::filesystem::path& path) {
  writeThroughPartial(path, [surface](int fd, const std::string& partial) {
    PngSink sink{fd};
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface, writeToSink, &sink);
    if (sink.error != 0) throw osError("write " + partial, sink.error);
    check(status, "encode PNG " + partial);
  });
}

}  // namespace

PictureLayout writeFormPicture(const Form& form, const std::filesystem::path& path) {
  const std::vector<std::string> receipt = shown(form.receipt, form.receiptLeftOut);
  const std::vector<std::string> journal = shown(form.journal, form.journalLeftOut);
  const Font textFont = font("Noto Sans Mono CJK TC", kTextPx);
  const Font labelFont = font("Noto Sans CJK TC", kLabelPx);

  // Measure on a scratch surface before the real size is known.
  Surface scratch(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1, 1));
  Context measure(cairo_create(scratch.get()));
  const auto [paperWidth, lineHeight] =
      extent(layout(measure.get(), textFont.get(), std::string(kPaperColumns, '0') + "國").get());
  int columnsWidth = paperWidth;
  for (const auto* lines : {&receipt, &journal}) {
    for (const std::string& line : *lines) {
      columnsWidth =
          std::max(columnsWidth, extent(layout(measure.get(), textFont.get(), line).get()).first);
    }
  }
  columnsWidth = std::min(columnsWidth, 2 * paperWidth);
  const int pitch = lineHeight + kLeading;
  const int rows = static_cast<int>(std::max({receipt.size(), journal.size(), std::size_t{1}}));

  PictureLayout out;
  out.receipt =
      Rect{kMargin, kMargin + kLabelHeight, columnsWidth + 2 * kPadX, rows * pitch + 2 * kPadY};
  out.journal = out.receipt;
  out.journal.x = out.receipt.x + out.receipt.width + kGap;
  out.width = out.journal.x + out.journal.width + kMargin;
  out.height = out.receipt.y + out.receipt.height + kMargin;

  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, out.width, out.height));
  check(cairo_surface_status(surface.get()), "create picture surface");
  Context cr(cairo_create(surface.get()));
  setColour(cr.get(), kBackgroundColour);
  cairo_paint(cr.get());
  const std::string number = " — form " + std::to_string(form.number);
  drawStrip(cr.get(), out.receipt, ("receipt" + number).c_str(), labelFont.get(), textFont.get(),
            receipt, pitch);
  drawStrip(cr.get(), out.journal, ("journal" + number).c_str(), labelFont.get(), textFont.get(),
            journal, pitch);
  check(cairo_status(cr.get()), "draw form " + std::to_string(form.number));
  cairo_surface_flush(surface.get());

  writePng(surface.get(), path);
  return out;
}

}  // namespace vprinter
