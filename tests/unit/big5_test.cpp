#include <gtest/gtest.h>

#include "serial/big5.h"
#include "tests/golden/golden_job.h"

namespace {

using testing_support::fromHex;
using testing_support::toHex;

struct Case {
  const char* name;
  std::u16string text;
  const char* hex;
};

TEST(Big5, ConvertsWithCodePage950) {
  const Case cases[] = {
      {"control characters pass as single bytes", {27, 122, 1, 10, 12, 0x7F}, "1B 7A 01 0A 0C 7F"},
      {"total", u"總計", "C1 60 AD 70"},
      {"trail byte 0x5C stays whole", u"許功\\", "B3 5C A5 5C 5C"},
      {"ASCII colon, not full-width", u"統編:1", "B2 CE BD 73 3A 31"},
      {"full-width colon is two bytes", u"：", "A1 47"},
      {"empty", u"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto bytes = serial::toBig5(c.text);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(toHex(*bytes), toHex(fromHex(c.hex)));
  }
}

TEST(Big5, RefusesWhatItCannotCarryInsteadOfSendingQuestionMarks) {
  const struct {
    std::u16string text;
    std::size_t bad;
  } cases[] = {
      {u"總計ก", 2},                  // Thai
      {u"a\u00E9", 1},                // e acute
      {u"ok\U0001F600", 2},           // outside the basic plane
      {{u'x', char16_t{0xD800}}, 1},  // lone surrogate
  };
  for (const auto& c : cases) {
    std::size_t bad = 99;
    EXPECT_FALSE(serial::toBig5(c.text, &bad).has_value());
    EXPECT_EQ(bad, c.bad);
  }
}

}  // namespace
