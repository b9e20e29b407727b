#include "texts/language_win32.h"
#include "tests/support/language.h"

namespace testing_support {

bool takeEnvironmentsLanguage() {
  return texts::language() == MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);
}

}  // namespace testing_support
