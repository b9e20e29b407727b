#pragma once

#include <string>

namespace testing_support {

// Tests named *InChinese* run in their own CTest entries under LANG=zh_TW.UTF-8, and the rest
// under whatever the machine has. This takes the environment's language as the program does at
// start (on Linux the locale, and the build tree's catalogs; on Windows the system's UI
// language, which Wine takes from LANG) and says whether it is Chinese (Taiwan).
bool takeEnvironmentsLanguage();

#define PROJECT1_SKIP_UNLESS_CHINESE()              \
  if (!testing_support::takeEnvironmentsLanguage()) \
  GTEST_SKIP() << "runs under LANG=zh_TW.UTF-8, as CTest's texts.zh_TW tests run it"

// The text as Wine's traces write it: every character past ASCII as \NNNN (hex).
std::string wineEscaped(const std::string& utf8);

}  // namespace testing_support
