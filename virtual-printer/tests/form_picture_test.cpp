#include "virtual-printer/form_picture.h"

#include <cairo.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "tests/support/temp_dir.h"
#include "virtual-printer/tests/model_helpers.h"

namespace vprinter {
namespace {

using namespace vprinter::testing;
using testing_support::TempDir;

struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};

// A PNG read back with cairo.
class Picture {
 public:
  explicit Picture(const std::filesystem::path& path)
      : surface_(cairo_image_surface_create_from_png(path.c_str())) {
    if (cairo_surface_status(surface_.get()) != CAIRO_STATUS_SUCCESS) {
      throw std::runtime_error("read " + path.string() + ": " +
                               cairo_status_to_string(cairo_surface_status(surface_.get())));
    }
    cairo_surface_flush(surface_.get());
  }
  int width() const { return cairo_image_surface_get_width(surface_.get()); }
  int height() const { return cairo_image_surface_get_height(surface_.get()); }
  std::uint32_t rgb(int x, int y) const {
    const unsigned char* row =
        cairo_image_surface_get_data(surface_.get()) +
        static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(surface_.get());
    return reinterpret_cast<const std::uint32_t*>(row)[x] & 0xFFFFFF;
  }
  // Pixels in the rectangle about as dark as ink.
  int darkPixels(const Rect& r) const {
    int dark = 0;
    for (int y = r.y; y < r.y + r.height; ++y) {
      for (int x = r.x; x < r.x + r.width; ++x) {
        const std::uint32_t c = rgb(x, y);
        if (((c >> 16) & 0xFF) + ((c >> 8) & 0xFF) + (c & 0xFF) < 3 * 100) ++dark;
      }
    }
    return dark;
  }

 private:
  std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface_;
};

Form goldenForm() {
  std::vector<Form> forms = printAll(goldenJob());
  if (forms.size() != 1) throw std::runtime_error("golden job printed no single form");
  return forms[0];
}

TEST(FormPicture, GoldenFormShowsTwoPrintedStripsOnGray) {
  TempDir dir;
  const auto path = dir.path() / "form-0001.png";
  const PictureLayout layout = writeFormPicture(goldenForm(), path);
  const Picture picture(path);
  ASSERT_EQ(picture.width(), layout.width);
  ASSERT_EQ(picture.height(), layout.height);

  const Rect& r = layout.receipt;
  const Rect& j = layout.journal;
  ASSERT_LT(r.x + r.width, j.x) << "strips overlap";
  EXPECT_EQ(r.height, j.height);
  const int middle = r.y + r.height / 2;
  EXPECT_EQ(picture.rgb((r.x + r.width + j.x) / 2, middle), kBackgroundColour) << "between strips";
  EXPECT_EQ(picture.rgb(1, picture.height() - 2), kBackgroundColour);
  for (const Rect& strip : {r, j}) {
    EXPECT_EQ(picture.rgb(strip.x + 2, strip.y + 2), kPaperColour);
    EXPECT_EQ(picture.rgb(strip.x + strip.width - 3, strip.y + strip.height - 3), kPaperColour);
  }
  // 22 lines, a dozen with text: plenty of ink in each strip, and the same amount in both.
  const int receiptInk = picture.darkPixels(r);
  const int journalInk = picture.darkPixels(j);
  EXPECT_GT(receiptInk, 2000);
  EXPECT_NEAR(journalInk, receiptInk, receiptInk / 50.0);
  // The last line, the total, reaches the lower part of the paper.
  const Rect lowerQuarter{r.x, r.y + r.height * 3 / 4, r.width, r.height / 4};
  EXPECT_GT(picture.darkPixels(lowerQuarter), 50);
}

TEST(FormPicture, JournalStripStaysBlankWhenLinesWentToReceiptOnly) {
  TempDir dir;
  const auto path = dir.path() / "form.png";
  Form form{.number = 1};
  form.receipt = {"總計             79元", "receipt only"};
  const PictureLayout layout = writeFormPicture(form, path);
  const Picture picture(path);
  EXPECT_GT(picture.darkPixels(layout.receipt), 200);
  EXPECT_EQ(picture.darkPixels(layout.journal), 0);
}

TEST(FormPicture, RunawayFormIsCutShortNotRefused) {
  TempDir dir;
  Form form{.number = 1};
  form.receipt.assign(2000, "x");
  const PictureLayout layout = writeFormPicture(form, dir.path() / "form.png");
  EXPECT_LT(layout.height, 32767);
  EXPECT_EQ(Picture(dir.path() / "form.png").height(), layout.height);
}

// Lines wider than the paper (a form made elsewhere than by the printer) are cut, not refused.
TEST(FormPicture, NoLineIsTooWideToDraw) {
  struct Case {
    const char* name;
    Form form;
  };
  std::string markers;
  for (int i = 0; i < 1 << 18; ++i) markers += "[07]";
  const Case cases[] = {
      {"one long ASCII line", Form{.number = 1, .receipt = {std::string(1850, 'A')}}},
      {"a megabyte of markers on both stations",
       Form{.number = 2, .receipt = {markers}, .journal = {markers}}},
      {"many wide lines",
       Form{.number = 3, .receipt = std::vector<std::string>(2000, std::string(300, 'W'))}},
  };
  TempDir dir;
  const auto path = dir.path() / "form.png";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PictureLayout layout = writeFormPicture(c.form, path);
    const Picture picture(path);
    EXPECT_EQ(picture.width(), layout.width);
    EXPECT_LT(layout.width, 3 * writeFormPicture(Form{.number = 1}, path).width);
    EXPECT_LT(layout.height, 32767);
    // The paper's right edge is still paper: ink stays inside the strip.
    const Rect& r = layout.receipt;
    EXPECT_EQ(picture.rgb(r.x + r.width - 1, r.y + r.height / 2), kPaperColour);
  }
}

TEST(FormPicture, UnwritableDirectoryNamesPathAndReason) {
  TempDir dir;
  const auto path = dir.path() / "missing" / "form.png";
  try {
    writeFormPicture(Form{.number = 1}, path);
    FAIL() << "wrote into a missing directory";
  } catch (const std::system_error& e) {
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr(path.string()));
    EXPECT_THAT(std::string(e.what()), ::testing::HasSubstr("No such file or directory"));
  }
}

}  // namespace
}  // namespace vprinter
