#include "golden_receipt.h"

#include <iconv.h>

#include <stdexcept>

namespace vprinter::testing {
namespace {

const std::string kEscZ1{'\x1B', 'z', '\x01'};
const std::string kLf{'\x0A'};
const std::string kFf{'\x0C'};

// The receipt's text lines, in print order; "" is an empty line.
const std::vector<std::string_view> kTextLines = {
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
    "",
};
constexpr std::string_view kTotal = "總計             79元";

}  // namespace

std::string toCp950(std::string_view utf8) {
  iconv_t cd = iconv_open("CP950", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open(CP950)");
  std::string out(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  const std::size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) {
    throw std::runtime_error("not convertible to CP950: " + std::string(utf8));
  }
  out.resize(out.size() - outLeft);
  return out;
}

std::vector<std::string> goldenWrites() {
  std::vector<std::string> writes;
  for (std::string_view text : kTextLines) writes.push_back(kEscZ1 + kLf + toCp950(text));
  std::string feeds = kEscZ1;
  for (int i = 0; i < 7; ++i) feeds += kLf;
  writes.push_back(feeds);
  writes.push_back(kLf + toCp950(kTotal));
  writes.push_back(kFf);
  return writes;
}

std::string goldenJob() {
  std::string job;
  for (const std::string& w : goldenWrites()) job += w;
  return job;
}

std::vector<std::string> goldenLines() {
  std::vector<std::string> lines{""};
  lines.insert(lines.end(), kTextLines.begin(), kTextLines.end() - 1);
  lines.insert(lines.end(), 8, "");
  lines.emplace_back(kTotal);
  return lines;
}

}  // namespace vprinter::testing
