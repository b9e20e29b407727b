#include <gtest/gtest.h>

#include "receipt/test_receipt.h"
#include "serial/big5.h"
#include "tests/golden/golden_job.h"

namespace {

using testing_support::fromHex;
using testing_support::kGoldenWritesHex;
using testing_support::kReceiptBytes;
using testing_support::toHex;

TEST(TestReceipt, EachWriteLeavesAsTheGoldenBytes) {
  const auto& table = receipt::TestReceipt();
  // Length in characters as held in memory, write by write.
  constexpr std::array<std::size_t, 16> kChars = {14, 15, 20, 16, 4, 23, 21, 4,
                                                  16, 16, 17, 16, 4, 10, 19, 1};
  std::size_t total = 0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE("write " + std::to_string(i + 1));
    EXPECT_EQ(table[i].size(), kChars[i]);
    const auto bytes = serial::toBig5(table[i]);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(toHex(*bytes), toHex(fromHex(kGoldenWritesHex[i])));
    total += bytes->size();
  }
  EXPECT_EQ(total, kReceiptBytes);
}

TEST(TestReceipt, TelephoneHasTheFixedForm) {
  // "電話:" then (AA)NNNN-NNNN, thirteen single-byte characters.
  const std::u16string& phone = receipt::TestReceipt()[2].substr(4 + 3);
  ASSERT_EQ(phone.size(), 13u);
  for (std::size_t i = 0; i < phone.size(); ++i) {
    const char16_t c = phone[i];
    const char16_t want = i == 0 ? u'(' : i == 3 ? u')' : i == 8 ? u'-' : u'0';
    if (want == u'0') {
      EXPECT_TRUE(c >= u'0' && c <= u'9') << "position " << i;
    } else {
      EXPECT_EQ(c, want) << "position " << i;
    }
  }
}

}  // namespace
