// What only the FLTK build has to do.

#include <algorithm>

#include "project1_fixture.h"

namespace e2e {
namespace {

TEST_F(Project1, WithoutADisplayItSaysSoOnOneLineAndEnds) {
  program_ = t().start(Port::Line, {{"DISPLAY", std::nullopt}});
  const auto status = waitForExit();
  ASSERT_TRUE(status);
  EXPECT_TRUE(status->exited()) << status->describe();  // an error, not a crash
  EXPECT_NE(status->code(), 0);
  const std::string err = program_->err();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_TRUE(!err.empty() && err.back() == '\n') << err;
  EXPECT_NE(err.find("display"), std::string::npos) << err;
  EXPECT_EQ(program_->out(), "");
  EXPECT_TRUE(portUntouched());
}

}  // namespace
}  // namespace e2e
