#include "tests/golden/golden_job.h"

#include <cstdio>
#include <stdexcept>

namespace testing_support {

constexpr std::array<std::string_view, 16> kGoldenWritesHex = {
    "1B 7A 01 0A A9 A8 A5 DD A8 74 B2 CE AA D1 A5 F7 A6 B3 AD AD A4 BD A5 71",  // 岳禾系統股份有限公司
    "1B 7A 01 0A B2 CE BD 73 3A 31 32 33 34 35 36 37 38",                       // 統編:12345678
    "1B 7A 01 0A B9 71 B8 DC 3A 28 30 32 29 32 33 34 35 2D 36 37 38 39",  // 電話:(02)2345-6789
    "1B 7A 01 0A B5 6F B2 BC A6 61 A7 7D 58 58 58 58 58 58 58 58",        // 發票地址XXXXXXXX
    "1B 7A 01 0A",                                                        //
    "1B 7A 01 0A A4 E9 3A 30 31 2F 30 37 2F 31 36 20 AE C9 3A 31 38 2D 30 30 20",  // 日:01/07/16
                                                                                   // 時:18-00
    "1B 7A 01 0A BE F7 B8 B9 3A 30 30 31 20 A7 C7 B8 B9 3A 30 31 20 AD B6 3A 31 20",  // 機號:001
                                                                                      // 序號:01
                                                                                      // 頁:1
    "1B 7A 01 0A",                                                                    //
    "1B 7A 01 0A A5 69 A4 66 A5 69 BC D6 20 32 B2 7E 20 31 37 A4 B8 20",  // 可口可樂 2瓶 17元
    "1B 7A 01 0A AA F8 B9 D8 AD BB B7 CF 20 31 A5 5D 20 32 35 A4 B8 20",  // 長壽香煙 1包 25元
    "1B 7A 01 0A A4 6A A8 C9 B3 F9 20 20 20 31 A5 F7 20 32 30 A4 B8 20",  // 大享堡   1份 20元
    "1B 7A 01 0A A8 FD A5 FE C2 41 A5 A4 20 32 B2 7E 20 31 37 A4 B8 20",  // 味全鮮奶 2瓶 17元
    "1B 7A 01 0A",                                                        //
    "1B 7A 01 0A 0A 0A 0A 0A 0A 0A",                                      // seven feeds
    "0A C1 60 AD 70 20 20 20 20 20 20 20 20 20 20 20 20 20 37 39 A4 B8",  // 總計 ... 79元
    "0C",                                                                 // form feed
};

namespace {

constexpr std::size_t hexBytes() {
  std::size_t digits = 0;
  for (const std::string_view write : kGoldenWritesHex) {
    for (const char c : write) digits += c != ' ' ? 1 : 0;
  }
  return digits / 2;
}
static_assert(hexBytes() == kReceiptBytes);

}  // namespace

std::string fromHex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    if (i + 1 >= hex.size()) throw std::invalid_argument("odd hex");
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

std::string toHex(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    (void)std::snprintf(buf, sizeof buf, out.empty() ? "%02X" : " %02X", c);
    out += buf;
  }
  return out;
}

std::vector<std::string> goldenWrites() {
  std::vector<std::string> writes;
  writes.reserve(kGoldenWritesHex.size());
  for (auto hex : kGoldenWritesHex) writes.push_back(fromHex(hex));
  return writes;
}

std::string goldenJob() {
  std::string job;
  for (const std::string& write : goldenWrites()) job += write;
  return job;
}

std::vector<std::string> goldenLines() {
  // Each write's line feed ends the line before it, so an empty line comes first; the last empty
  // text line and the seven feeds leave eight empty lines before the total.
  std::vector<std::string> lines = {
      "",
      "岳禾系統股份有限公司",
      "統編:12345678",
      "電話:(02)2345-6789",
      "發票地址XXXXXXXX",
      "",
      "日:01/07/16 時:18-00 ",
      "機號:001 序號:01 頁:1 ",
      "",
      "可口可樂 2瓶 17元 ",
      "長壽香煙 1包 25元 ",
      "大享堡   1份 20元 ",
      "味全鮮奶 2瓶 17元 ",
  };
  lines.insert(lines.end(), 8, "");
  lines.emplace_back("總計             79元");
  return lines;
}

}  // namespace testing_support
