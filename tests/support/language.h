#pragma once

#include <string>

namespace testing_support {

// Takes the environment's language as the program does at start (on Linux the locale and the
// build tree's catalogs; on Windows the system's UI language, which Wine takes from LANG) and
// says whether it is Chinese (Taiwan): CTest runs the tests named *InChinese* under
// LANG=zh_TW.UTF-8.
bool takeEnvironmentsLanguage();

#define PROJECT1_SKIP_UNLESS_CHINESE()              \
  if (!testing_support::takeEnvironmentsLanguage()) \
  GTEST_SKIP() << "runs under LANG=zh_TW.UTF-8, as CTest's texts.zh_TW tests run it"

// The text as Wine's traces write it: every character past ASCII as \NNNN (hex).
std::string wineEscaped(const std::string& utf8);

}  // namespace testing_support
