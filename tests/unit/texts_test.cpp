#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/error_report.h"
#include "serial/serial_error.h"
#include "tests/support/language.h"
#include "texts/texts.h"

namespace {

using texts::Text;

struct Entry {
  Text id;
  const char* name;
  const char* english;
};

// Every text with the English it was written with.
const Entry kEntries[] = {
#define PROJECT1_TEXT(name, english) {Text::name, #name, english},
#include "texts/common.def"
#include PROJECT1_PLATFORM_TEXTS
#undef PROJECT1_TEXT
};

std::vector<std::string> placeholders(const std::string& text) {
  std::vector<std::string> found;
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    if (text[i] == '{' && text[i + 2] == '}' && text[i + 1] >= '1' && text[i + 1] <= '9') {
      found.push_back(text.substr(i, 3));
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

bool hasNonAscii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

TEST(Fill, PutsEachArgumentAtItsNumber) {
  const struct {
    const char* pattern;
    std::vector<std::string> args;
    const char* filled;
  } cases[] = {
      {"{1} ({2}): {3}.", {"COM1", "/dev/ttyS0", "open"}, "COM1 (/dev/ttyS0): open."},
      {"{2} 個位元組中有 {1} 個", {"40", "267"}, "267 個位元組中有 40 個"},  // another order
      {"{1}{1}", {"ab"}, "abab"},
      {"{3} stays", {"a"}, "{3} stays"},            // no argument for it
      {"{0} {10} {x} {", {"a"}, "{0} {10} {x} {"},  // none of these is a placeholder
      {"{1}", {"{2}"}, "{2}"},                      // what is filled in is not filled again
      {"", {"a"}, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string_view> views(c.args.begin(), c.args.end());
    std::string out;
    switch (views.size()) {
      case 1:
        out = texts::fill(c.pattern, {views[0]});
        break;
      case 2:
        out = texts::fill(c.pattern, {views[0], views[1]});
        break;
      default:
        out = texts::fill(c.pattern, {views[0], views[1], views[2]});
    }
    EXPECT_EQ(out, c.filled) << c.pattern;
  }
}

// Outside a Chinese (Taiwan) system every text is its English, found by its own name: on
// Windows this also shows that the string tables are numbered as the names are. CTest runs it
// under Simplified Chinese too (texts.zh_CN): Taiwan's texts are not the mainland's.
TEST(Texts, EveryTextIsItsEnglishOnOtherSystems) {
  if (testing_support::takeEnvironmentsLanguage()) {
    GTEST_SKIP() << "the language here is Chinese (Taiwan): the InChinese tests cover it";
  }
  for (const auto& e : kEntries) EXPECT_EQ(texts::text(e.id), e.english) << e.name;
}

TEST(Texts, InChineseEveryTextIsTranslatedAndKeepsWhatTheProgramFillsIn) {
  PROJECT1_SKIP_UNLESS_CHINESE();
  for (const auto& e : kEntries) {
    SCOPED_TRACE(e.name);
    const std::string said = texts::text(e.id);
    EXPECT_NE(said, e.english) << "not translated";
    EXPECT_EQ(placeholders(said), placeholders(e.english)) << said;
    // Chinese puts no space between sentences: only that one is ASCII in both.
    if (e.id != Text::TwoSentences) {
      EXPECT_TRUE(hasNonAscii(said)) << said;
    }
  }
  // A few by their words, so that a table numbered wrong cannot pass.
  EXPECT_EQ(texts::text(Text::ErrorHeading, {"8002"}), "錯誤 8002");
  EXPECT_EQ(texts::text(Text::NothingSent), "沒有任何資料送到印表機。");
  EXPECT_EQ(texts::text(Text::DoingOpen), "開啟");
  EXPECT_EQ(texts::text(Text::ListSeparator), "、");
}

// The box says, in the user's language, whether any of the receipt can be on the paper: an
// error before the first byte sent nothing.
TEST(ErrorBox, InChineseSaysWhetherAnythingWasSent) {
  PROJECT1_SKIP_UNLESS_CHINESE();
  using serial::ErrorCode;
  const struct {
    ErrorCode code;
    const char* closing;
  } cases[] = {
      {ErrorCode::NoSuchPort, "沒有任何資料送到印表機。程式即將結束。"},
      {ErrorCode::InUse, "沒有任何資料送到印表機。程式即將結束。"},
      {ErrorCode::SettingsRejected, "沒有任何資料送到印表機。程式即將結束。"},
      {ErrorCode::WriteFailed, "測試收據可能不完整。程式即將結束。"},
      {ErrorCode::WriteTimedOut, "測試收據可能不完整。程式即將結束。"},
  };
  for (const auto& c : cases) {
    const auto report = app::reportFor(
        serial::serialError(c.code, "COM1", "/dev/ttyS0", texts::text(Text::DoingOpen), "原因"));
    const std::string number = std::to_string(static_cast<int>(c.code));
    const std::string box = report.text();
    EXPECT_TRUE(box.starts_with("錯誤 " + number + "\n\nCOM1（/dev/ttyS0）：開啟：原因。")) << box;
    EXPECT_TRUE(box.ends_with("\n\n" + std::string(c.closing))) << box;
    // stderr's line: the heading with a full-width colon, no gap between sentences.
    const std::string line = report.line();
    EXPECT_TRUE(line.starts_with("錯誤 " + number + "：COM1（/dev/ttyS0）")) << line;
    EXPECT_TRUE(line.ends_with(c.closing)) << line;
    EXPECT_EQ(line.find("。 "), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  }
}

}  // namespace
