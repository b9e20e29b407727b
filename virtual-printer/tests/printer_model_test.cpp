#include "virtual-printer/printer_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "virtual-printer/console_format.h"
#include "virtual-printer/json_summary.h"
#include "virtual-printer/tests/model_helpers.h"
#include "virtual-printer/text_width.h"

namespace vprinter {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace vprinter::testing;

std::string bytes(std::initializer_list<unsigned char> list) {
  return std::string(list.begin(), list.end());
}

const std::string kLf = bytes({0x0A});
const std::string kFf = bytes({0x0C});
const std::string kEscZ0 = bytes({0x1B, 'z', 0x00});
const std::string kEscZ1 = bytes({0x1B, 'z', 0x01});

void expectGoldenStation(const std::vector<std::string>& lines) {
  ASSERT_EQ(lines.size(), 22u);
  for (std::size_t n : {1, 6, 9, 14, 15, 16, 17, 18, 19, 20, 21}) {
    EXPECT_EQ(lines[n - 1], "") << "line " << n;
  }
  EXPECT_EQ(lines[1], "岳禾系統股份有限公司");
  EXPECT_EQ(lines[3], "電話:(02)2345-6789");
  EXPECT_EQ(lines[9], "可口可樂 2瓶 17元 ");
  EXPECT_EQ(lines[10], "長壽香煙 1包 25元 ");
  EXPECT_EQ(lines[11], "大享堡   1份 20元 ");
  EXPECT_EQ(lines[12], "味全鮮奶 2瓶 17元 ");
  EXPECT_EQ(lines[21], "總計             79元");
  EXPECT_EQ(lines, goldenLines());
}

TEST(GoldenJob, PrintsTheReceiptOnBothStationsAsWritten) {
  PrinterModel model;
  std::vector<Form> forms;
  for (const std::string& w : goldenWrites()) {
    for (Form& f : formsIn(model.feed(bytesOf(w)))) forms.push_back(std::move(f));
  }

  ASSERT_EQ(forms.size(), 1u);
  const Form& form = forms[0];
  expectGoldenStation(form.receipt);
  EXPECT_EQ(form.journal, form.receipt);
  EXPECT_THAT(form.anomalies, IsEmpty());
  EXPECT_EQ(form.number, 1);
  EXPECT_EQ(form.bytes, kReceiptBytes);
  EXPECT_EQ(form.reads, 16u);
  EXPECT_THAT(formsIn(model.finish()), IsEmpty());
}

TEST(GoldenJob, ResultDoesNotDependOnChunking) {
  const std::string job = goldenJob();
  std::vector<Form> whole = printAll(job);
  std::vector<Form> single = printByteByByte(job);
  ASSERT_EQ(whole.size(), 1u);
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(whole[0].reads, 1u);
  EXPECT_EQ(single[0].reads, kReceiptBytes);
  expectGoldenStation(single[0].journal);
  single[0].reads = whole[0].reads;
  EXPECT_EQ(single[0], whole[0]);
}

TEST(GoldenJob, LinesComeOutAsTheyPrintWithTheirStations) {
  PrinterModel model;
  const auto events = model.feed(bytesOf(goldenWrites()[0] + goldenWrites()[1]));
  EXPECT_THAT(events, ElementsAre(PrinterEvent(PrintedLine{"", true}),
                                  PrinterEvent(PrintedLine{"岳禾系統股份有限公司", true})));
  EXPECT_TRUE(model.parallel());
}

struct Expected {
  std::uint64_t offset;
  std::string what;  // a telling part of the description
};

struct MalformedCase {
  const char* name;
  std::string input;  // one form, ended by FF
  std::vector<std::string> receipt;
  std::vector<std::string> journal;
  std::vector<Expected> anomalies;
};

std::vector<MalformedCase> malformedCases() {
  const std::string zong = toCp950("總");  // C1 60
  return {
      {"TruncatedDoubleByteAtFormFeed",
       toCp950("總計") + bytes({0xC1}) + kFf,
       {"總計[C1]"},
       {},
       {{4, "truncated double-byte character C1 at form feed"}}},
      {"UnknownEscAt",
       "AB" + bytes({0x1B, '@'}) + "C" + kLf + kFf,
       {"AB[1B 40]C"},
       {},
       {{2, "unsupported command ESC @ (1B 40)"}}},
      {"UnknownEscX",
       bytes({0x1B, 'x'}) + kLf + kFf,
       {"[1B 78]"},
       {},
       {{0, "unsupported command ESC x"}}},
      {"EscBeforeLineFeedKeepsTheFeed",
       "A" + bytes({0x1B}) + kLf + "B" + kLf + kFf,
       {"A[1B]", "B"},
       {},
       {{1, "ESC without a command"}}},
      {"EscZ0MidLineIsIgnored",
       kEscZ1 + "AB" + kEscZ0 + "C" + kLf + "D" + kLf + kFf,
       {"ABC", "D"},
       {"ABC", "D"},
       {{5, "ESC z ignored mid-line (journal stays on)"}}},
      {"EscZ1MidLineIsIgnored",
       "AB" + kEscZ1 + "C" + kLf + "D" + kLf + kFf,
       {"ABC", "D"},
       {},
       {{2, "ESC z ignored mid-line (journal stays off)"}}},
      {"EscZMidLineRepeatingTheModeIsHarmless",
       kEscZ1 + "A" + kEscZ1 + kLf + kFf,
       {"A"},
       {"A"},
       {}},
      {"StrayBell",
       "A" + bytes({0x07}) + "B" + kLf + kFf,
       {"A[07]B"},
       {},
       {{1, "stray control byte 07"}}},
      {"CarriageReturnBeforeLineFeed",
       "A" + bytes({0x0D}) + kLf + kFf,
       {"A[0D]"},
       {},
       {{1, "stray control byte 0D"}}},
      {"ControlByteInsideDoubleByte",
       zong + bytes({0xAD, 0x0A}) + "X" + kLf + kFf,
       {"總[AD]", "X"},
       {},
       {{2, "control byte 0A inside double-byte character AD"}}},
      {"UnassignedBig5Pair",
       "A" + bytes({0x81, 0x40}) + kLf + kFf,
       {"A[81 40]"},
       {},
       {{1, "81 40 is not a Big5 character"}}},
      {"LeadByteWithAsciiAfterIt",
       bytes({0xA4, '1'}) + kLf + kFf,
       {"[A4]1"},
       {},
       {{0, "A4 followed by 31"}}},
      {"ByteOutsideAsciiAndBig5",
       "A" + bytes({0x80}) + kLf + kFf,
       {"A[80]"},
       {},
       {{1, "byte 80 is neither ASCII nor a Big5 lead byte"}}},
      {"EscZ0SendsLaterLinesToReceiptOnly",
       kEscZ1 + "A" + kLf + kEscZ0 + "B" + kLf + kEscZ1 + kLf + kFf,
       {"A", "B", ""},
       {"A", ""},
       {}},
      {"FormFeedAloneAddsNoBlankLine", kFf, {}, {}, {}},
      {"LineWiderThanThePaperWraps",
       std::string(45, 'A') + kLf + kFf,
       {std::string(40, 'A'), "AAAAA"},
       {},
       {{40, "line wider than 40 columns wraps here"}}},
      {"FullLineFeedsNoBlankLine",
       std::string(40, 'A') + kLf + kFf,
       {std::string(40, 'A')},
       {},
       {}},
      {"DoubleByteCharacterIsNotSplitAcrossLines",
       std::string(39, 'A') + zong + "B" + kLf + kFf,
       {std::string(39, 'A'), "總B"},
       {},
       {{39, "wraps here"}}},
      {"MarkerIsNotSplitAcrossLines",
       std::string(38, 'A') + bytes({0x07}) + kLf + kFf,
       {std::string(38, 'A'), "[07]"},
       {},
       {{38, "wraps here"}, {38, "stray control byte 07"}}},
      {"JournalWrapsLikeTheReceipt",
       kEscZ1 + std::string(20, 'A') + toCp950("國國國國國國國國國國國") + kLf + kFf,
       {std::string(20, 'A') + "國國國國國國國國國國", "國"},
       {std::string(20, 'A') + "國國國國國國國國國國", "國"},
       {{43, "wraps here"}}},
      {"OnlyTheFirstWrapOfALineIsListed",
       std::string(81, 'A') + kLf + std::string(41, 'B') + kLf + kFf,
       {std::string(40, 'A'), std::string(40, 'A'), "A", std::string(40, 'B'), "B"},
       {},
       {{40, "wraps here"}, {122, "wraps here"}}},
  };
}

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class MalformedStream : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedStream, ReportsItsAnomalyAtTheRightOffsetAndNothingElse) {
  const MalformedCase& c = GetParam();
  for (const auto& forms : {printAll(c.input), printByteByByte(c.input)}) {
    ASSERT_EQ(forms.size(), 1u);
    const Form& form = forms[0];
    EXPECT_EQ(form.receipt, c.receipt);
    EXPECT_EQ(form.journal, c.journal);
    EXPECT_EQ(form.bytes, c.input.size());
    ASSERT_EQ(form.anomalies.size(), c.anomalies.size());
    for (std::size_t i = 0; i < c.anomalies.size(); ++i) {
      EXPECT_EQ(form.anomalies[i].offset, c.anomalies[i].offset);
      EXPECT_EQ(form.anomalies[i].formOffset, c.anomalies[i].offset);
      EXPECT_THAT(form.anomalies[i].what, ::testing::HasSubstr(c.anomalies[i].what));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MalformedStream, ::testing::ValuesIn(malformedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Whatever the host sends, every line fits the paper and nothing sent is lost.
TEST(Wrapping, NoInputMakesALineWiderThanThePaper) {
  const std::string noise = noiseWithoutFormFeed(20240611);
  const std::string longLine(1850, 'x');
  for (const std::string& input : {longLine, noise}) {
    const std::vector<Form> forms = printAll(input + kFf);
    ASSERT_EQ(forms.size(), 1u);
    EXPECT_EQ(forms[0].bytes, input.size() + 1);
    for (const std::string& line : forms[0].receipt) ASSERT_LE(displayWidth(line), 40) << line;
  }
  const std::vector<Form> forms = printAll(longLine + kFf);
  ASSERT_EQ(forms[0].receipt.size(), 47u);
  std::string joined;
  for (const std::string& line : forms[0].receipt) joined += line;
  EXPECT_EQ(joined, longLine);
}

TEST(Forms, ModeAndOffsetsCarryAcrossForms) {
  // Parallel mode set in form 1 still holds in form 2; form 2's anomaly has both offsets.
  const std::string job = kEscZ1 + "A" + kLf + kFf + "B" + bytes({0x07}) + kLf + kFf;
  PrinterModel model;
  std::vector<Form> forms = formsIn(model.feed(bytesOf(job)));
  ASSERT_EQ(forms.size(), 2u);
  EXPECT_EQ(forms[1].number, 2);
  EXPECT_EQ(forms[1].firstOffset, 6u);
  EXPECT_EQ(forms[1].journal, std::vector<std::string>{"B[07]"});
  EXPECT_THAT(forms[1].anomalies,
              ElementsAre(Anomaly{.offset = 7, .formOffset = 1, .what = "stray control byte 07"}));
  // One read brought bytes to both forms, so both count it.
  EXPECT_EQ(forms[0].reads, 1u);
  EXPECT_EQ(forms[1].reads, 1u);
}

TEST(Forms, EndOfStreamClosesAnUnfinishedForm) {
  PrinterModel model;
  EXPECT_THAT(formsIn(model.feed(bytesOf(kEscZ1 + "A" + kLf + "B" + bytes({0xC1})))), IsEmpty());
  std::vector<Form> forms = formsIn(model.finish());
  ASSERT_EQ(forms.size(), 1u);
  EXPECT_EQ(forms[0].receipt, (std::vector<std::string>{"A", "B[C1]"}));
  EXPECT_EQ(forms[0].journal, forms[0].receipt);
  EXPECT_THAT(forms[0].anomalies,
              ElementsAre(Anomaly{6, 6, "truncated double-byte character C1 at end of stream"},
                          Anomaly{7, 7, "end of stream without form feed"}));
  EXPECT_THAT(model.finish(), IsEmpty());
}

// A host that never sends a form feed: the noise is cut into forms of the limit's size, each
// saying so, in memory and a summary line of bounded size, and the receipt after it is intact.
TEST(FormLimit, NoiseWithoutFormFeedIsCutAndTheNextFormPrintsAsSent) {
  std::string input;
  for (unsigned seed : {1u, 2u, 3u}) input += noiseWithoutFormFeed(seed);
  ASSERT_EQ(input.size(), 3 * kMaxFormBytes) << "the noise helper's size";
  input += goldenJob();

  PrinterModel model;
  std::vector<Form> forms;
  for (std::size_t at = 0; at < input.size(); at += 4096) {
    for (Form& f : formsIn(model.feed(bytesOf(std::string_view(input).substr(at, 4096))))) {
      forms.push_back(std::move(f));
    }
  }
  ASSERT_EQ(forms.size(), 4u);

  const std::string cut = "form cut at 1048576 bytes without a form feed";
  for (std::uint64_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("form " + std::to_string(i + 1));
    const Form& form = forms[i];
    EXPECT_EQ(form.firstOffset, i * kMaxFormBytes);
    EXPECT_EQ(form.bytes, kMaxFormBytes);
    ASSERT_FALSE(form.anomalies.empty());
    EXPECT_EQ(
        form.anomalies.back(),
        (Anomaly{.offset = (i + 1) * kMaxFormBytes, .formOffset = kMaxFormBytes, .what = cut}));
    EXPECT_LE(form.receipt.size(), kMaxKeptLines);
    EXPECT_LE(form.journal.size(), kMaxKeptLines);
    EXPECT_LE(form.anomalies.size(), kMaxKeptAnomalies + 1);
    EXPECT_GT(form.receiptLeftOut, 0u);
    EXPECT_GT(form.anomaliesLeftOut, 0u);

    // With a long picture path too, the line stays small; it was 35 MB a mebibyte of noise.
    const std::string json = formSummaryJson(form, std::string(4096, 'p'), std::string(4096, 'e'));
    EXPECT_LT(json.size(), 128u * 1024u);
    EXPECT_THAT(json, HasSubstr(R"("form_offset":1048576,"what":")" + cut + R"("}])"));
    EXPECT_THAT(json,
                HasSubstr(",\"anomalies_left_out\":" + std::to_string(form.anomaliesLeftOut)));
    const std::string report = formReport(form);
    EXPECT_THAT(report, HasSubstr("(form byte 1048576): " + cut + "\n"));
    EXPECT_THAT(report,
                HasSubstr(std::to_string(form.anomaliesLeftOut) + " more anomalies not listed"));
  }

  const Form& receipt = forms[3];
  EXPECT_EQ(receipt.number, 4);
  EXPECT_EQ(receipt.firstOffset, 3 * kMaxFormBytes);
  EXPECT_EQ(receipt.bytes, kReceiptBytes);
  expectGoldenStation(receipt.receipt);
  EXPECT_EQ(receipt.journal, receipt.receipt);
  EXPECT_THAT(receipt.anomalies, IsEmpty());
}

// Where exactly the cut falls, with a filler of the limit's size less `short`.
TEST(FormLimit, CutFallsAtTheLimitAndNeverInsideACharacter) {
  struct Case {
    const char* name;
    std::size_t shortOfLimit;
    std::string then;
    std::vector<std::uint64_t> formBytes;
    std::vector<std::string> firstFormEndsWith;  // its last anomalies, in order
    std::vector<std::string> secondReceipt;
  };
  const Case cases[] = {
      {"a form feed at the limit ends the form as sent",
       0,
       kFf + "A" + kLf + kFf,
       {kMaxFormBytes + 1, 3},
       {"line wider than 40 columns wraps here"},
       {"A"}},
      {"the byte after the limit starts the next form",
       0,
       "A" + kLf + kFf,
       {kMaxFormBytes, 3},
       {"form cut at 1048576 bytes without a form feed"},
       {"A"}},
      {"a character the cut splits is printed as far as it came",
       1,
       toCp950("總") + kLf + kFf,  // C1 60: its trail byte is a printable ASCII one
       {kMaxFormBytes, 3},
       {"truncated double-byte character C1 where the form was cut",
        "form cut at 1048576 bytes without a form feed"},
       {"`"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Form> forms =
        printAll(std::string(kMaxFormBytes - c.shortOfLimit, 'A') + c.then);
    ASSERT_EQ(forms.size(), c.formBytes.size());
    for (std::size_t i = 0; i < forms.size(); ++i) EXPECT_EQ(forms[i].bytes, c.formBytes[i]);
    const std::vector<Anomaly>& anomalies = forms[0].anomalies;
    ASSERT_GE(anomalies.size(), c.firstFormEndsWith.size());
    for (std::size_t i = 0; i < c.firstFormEndsWith.size(); ++i) {
      EXPECT_EQ(anomalies[anomalies.size() - c.firstFormEndsWith.size() + i].what,
                c.firstFormEndsWith[i]);
    }
    EXPECT_EQ(forms[1].receipt, c.secondReceipt);
    EXPECT_THAT(forms[1].anomalies, IsEmpty());
    EXPECT_EQ(forms[1].firstOffset, forms[0].bytes);
  }
}

}  // namespace
}  // namespace vprinter
