#include "receipt/test_receipt.h"

namespace receipt {
namespace {

// Control characters come from their codes, never from escapes inside text literals.
const std::u16string ESC_z_1{char16_t{27}, char16_t{122}, char16_t{1}};
const std::u16string LF(1, char16_t{10});
const std::u16string FF(1, char16_t{12});

// Each of writes 1 to 14 first selects parallel printing on receipt and journal, then feeds,
// which prints the text the previous write left pending.
std::u16string line(const std::u16string& text) { return ESC_z_1 + LF + text; }

Receipt build() {
  return {
      line(u"岳禾系統股份有限公司"),
      line(u"統編:12345678"),
      line(u"電話:(02)2345-6789"),
      line(u"發票地址XXXXXXXX"),
      line(u""),
      line(u"日:01/07/16 時:18-00 "),
      line(u"機號:001 序號:01 頁:1 "),
      line(u""),
      line(u"可口可樂 2瓶 17元 "),
      line(u"長壽香煙 1包 25元 "),
      line(u"大享堡   1份 20元 "),
      line(u"味全鮮奶 2瓶 17元 "),
      line(u""),
      ESC_z_1 + std::u16string(7, char16_t{10}),
      LF + u"總計             79元",
      FF,
  };
}

}  // namespace

const Receipt& TestReceipt() {
  static const Receipt table = build();
  return table;
}

}  // namespace receipt
