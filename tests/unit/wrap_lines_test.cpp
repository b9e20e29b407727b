#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "app/wrap_lines.h"

namespace {

// Columns as a terminal counts them: a Chinese character (three bytes in UTF-8) takes two.
int columns(std::string_view s) {
  int n = 0;
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if ((b & 0xC0) != 0x80) n += b >= 0xE0 ? 2 : 1;
  }
  return n;
}

TEST(WrapLines, BreaksAtSpacesAndBetweenChineseCharactersButNotAtPunctuation) {
  const struct {
    const char* text;
    int width;
    const char* lines;
  } cases[] = {
      {"The port is in use by another program", 15, "The port is in\nuse by another\nprogram"},
      // Greedy would start a line with "："; it goes with the character before it.
      {"序列埠停止送出資料：未使用交握時", 18, "序列埠停止送出資\n料：未使用交握時"},
      {"印表機（POS）可以", 10, "印表機\n（POS）可\n以"},
      // Latin text and paths inside Chinese stay whole; what is too wide stands alone.
      {"COM1（/dev/ttyS0）：寫入", 14, "COM1\n（/dev/ttyS0）：\n寫入"},
      {"序列埠、USB 轉接器或其驅動程式", 12, "序列埠、USB\n轉接器或其驅\n動程式"},
      {"run project1-port /dev/ttyUSB0", 5, "run\nproject1-port\n/dev/ttyUSB0"},
      // A word keeps its number; other spaces still break.
      {"沒有此一檔案或目錄（errno 2）。找不到", 24, "沒有此一檔案或目錄\n（errno 2）。找不到"},
      {"Error 8002 at 9600 baud", 11, "Error 8002\nat 9600\nbaud"},
      // The box's paragraphs stay.
      {"錯誤 8021\n\n沒有任何資料送到印表機。", 100, "錯誤 8021\n\n沒有任何資料送到印表機。"},
      {"", 10, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(app::wrapLines(c.text, c.width, columns), c.lines) << c.text << " in " << c.width;
  }
}

// At every width, nothing is lost but the spaces a line starts at, no line is wider than the
// width unless it holds one piece that cannot be broken, and punctuation keeps its side.
TEST(WrapLines, KeepsEveryCharacterAtEveryWidth) {
  const std::string text =
      "COM1（/dev/ttyS0）：寫入：1000 毫秒沒有送出任何資料（佇列中還有 120 個位元組）。"
      "序列埠停止送出資料：未使用交握時，印表機無法讓傳輸暫停，所以停住的是序列埠、USB "
      "轉接器或其驅動程式。請拔下轉接器後重新插上，或換一個試試。";
  std::string withoutSpaces;
  for (const char c : text) {
    if (c != ' ') withoutSpaces += c;
  }
  for (int width = 4; width <= 80; ++width) {
    SCOPED_TRACE(width);
    const std::string wrapped = app::wrapLines(text, width, columns);
    std::string joined;
    std::size_t from = 0;
    for (;;) {
      const std::size_t end = wrapped.find('\n', from);
      const std::string line = wrapped.substr(from, end - from);
      EXPECT_FALSE(line.empty() || line.front() == ' ' || line.back() == ' ') << line;
      for (const char* closing : {"，", "。", "：", "）", "、"}) {
        EXPECT_FALSE(line.starts_with(closing)) << line;
      }
      EXPECT_FALSE(line.ends_with("（")) << line;
      if (columns(line) > width) {
        EXPECT_EQ(line.find(' '), std::string::npos) << line;
      }
      for (const char c : line) {
        if (c != ' ') joined += c;
      }
      if (end == std::string::npos) break;
      from = end + 1;
    }
    EXPECT_EQ(joined, withoutSpaces);
  }
}

}  // namespace
