#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "virtual-printer/console_format.h"
#include "virtual-printer/json_summary.h"
#include "virtual-printer/text_width.h"

namespace vprinter {
namespace {

TEST(DisplayWidth, CountsWideCharactersAsTwoColumns) {
  struct Case {
    std::string text;
    int width;
  };
  const Case cases[] = {
      {"", 0},
      {"統編:12345678", 13},
      {"總計             79元", 21},
      {"ＡＢ", 4},  // fullwidth forms
      {"　", 2},    // ideographic space
      {"[C1]", 4},
      {"é", 1},
      {"\xE4\xB8", 2},  // a cut-off sequence counts a column a byte
  };
  for (const Case& c : cases) EXPECT_EQ(displayWidth(c.text), c.width) << c.text;
}

TEST(SideBySide, JournalColumnLinesUpWhateverTheScript) {
  const std::string chinese = sideBySide({"總計 79元", true}, 20);
  const std::string ascii = sideBySide({"Total 79", true}, 20);
  EXPECT_EQ(chinese, "總計 79元" + std::string(11, ' ') + " | 總計 79元");
  EXPECT_EQ(ascii, "Total 79" + std::string(12, ' ') + " | Total 79");
  EXPECT_EQ(displayWidth(chinese.substr(0, chinese.find('|'))),
            displayWidth(ascii.substr(0, ascii.find('|'))));
  EXPECT_EQ(sideBySide({"receipt only", false}, 14), "receipt only   | ");
}

TEST(JsonString, EscapesWhatJsonRequiresAndKeepsUtf8) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"總計 79元", "\"總計 79元\""},
      {R"(say "hi")", R"("say \"hi\"")"},
      {R"(C:\dir)", R"("C:\\dir")"},
      {"a\nb\tc\rd", R"("a\nb\tc\rd")"},
      {std::string("\x01\x1B\x7F", 3), "\"\\u0001\\u001B\x7F\""},
  };
  for (const Case& c : cases) EXPECT_EQ(jsonString(c.in), c.out);
}

TEST(FormSummary, IsOneJsonObjectInAFixedShape) {
  Form form{.number = 3, .bytes = 267, .reads = 16};
  form.receipt = {"", "A \"q\""};
  form.journal = {""};
  form.anomalies = {{.offset = 300, .formOffset = 12, .what = "stray control byte 07"}};
  EXPECT_EQ(formSummaryJson(form, "/out/form-0003.png"),
            R"({"form":3,"bytes":267,"reads":16,"line_time_ms":278.1,"receipt":["","A \"q\""],)"
            R"("journal":[""],"anomalies":[{"offset":300,"form_offset":12,)"
            R"("what":"stray control byte 07"}],"png":"/out/form-0003.png"})");
}

TEST(FormSummary, SaysHowManyLinesAndAnomaliesItLeftOut) {
  Form form{.number = 1, .bytes = 1, .reads = 1};
  form.receipt = {"a"};
  form.receiptLeftOut = 7;
  form.anomaliesLeftOut = 2;
  EXPECT_EQ(formSummaryJson(form, ""),
            R"({"form":1,"bytes":1,"reads":1,"line_time_ms":1.0,"receipt":["a"],)"
            R"("receipt_left_out":7,"journal":[],"anomalies":[],"anomalies_left_out":2,"png":""})");
  EXPECT_EQ(formReport(form),
            "form 1: 1 byte, 1 read, 1.0 ms at 9600 baud, 8 receipt lines, 0 journal lines, "
            "2 anomalies\n"
            "  2 more anomalies not listed\n");
}

TEST(FormReport, GivesSizeTimeAndEachAnomaly) {
  Form form{.number = 1, .bytes = 267, .reads = 1};
  form.receipt = {"a"};
  form.anomalies = {{.offset = 40, .formOffset = 7, .what = "ESC z ignored mid-line"}};
  EXPECT_EQ(formReport(form),
            "form 1: 267 bytes, 1 read, 278.1 ms at 9600 baud, 1 receipt line, 0 journal lines, "
            "1 anomaly\n"
            "  anomaly at byte 40 (form byte 7): ESC z ignored mid-line\n");
}

}  // namespace
}  // namespace vprinter
