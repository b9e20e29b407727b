#include "virtual-printer/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vprinter {
namespace {

using ::testing::HasSubstr;

TEST(Options, DefaultsWriteUnderVirtualPrinterOut) {
  const Options o = parseOptions({});
  EXPECT_EQ(o.outDir, "virtual-printer-out");
  EXPECT_EQ(o.summaryPath(), "virtual-printer-out/forms.jsonl");
  EXPECT_FALSE(o.forms.has_value());
  EXPECT_FALSE(o.quiet || o.chatter || o.help || o.noPictures);
  EXPECT_TRUE(o.pathFile.empty());
}

TEST(Options, TakesEveryOptionInBothSpellings) {
  const Options o = parseOptions({"--out", "d", "--summary=s.jsonl", "--path-file", "p",
                                  "--forms=2", "--chatter", "--quiet", "--no-pictures"});
  EXPECT_EQ(o.outDir, "d");
  EXPECT_EQ(o.summaryPath(), "s.jsonl");
  EXPECT_EQ(o.pathFile, "p");
  EXPECT_EQ(o.forms, 2);
  EXPECT_TRUE(o.chatter);
  EXPECT_TRUE(o.quiet);
  EXPECT_TRUE(o.noPictures);
}

TEST(Options, RejectsBadArgumentsNamingTheProblem) {
  struct Case {
    std::vector<std::string_view> args;
    const char* message;
  };
  const Case cases[] = {
      {{"--forms", "0"}, "--forms needs a whole number"},
      {{"--forms", "2x"}, "--forms needs a whole number"},
      {{"--forms=-1"}, "--forms needs a whole number"},
      {{"--out"}, "--out needs a value"},
      {{"--quiet=yes"}, "--quiet takes no value"},
      {{"--colour"}, "unknown option \"--colour\""},
  };
  for (const Case& c : cases) {
    try {
      parseOptions(c.args);
      ADD_FAILURE() << "accepted " << c.args[0];
    } catch (const UsageError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
}

}  // namespace
}  // namespace vprinter
