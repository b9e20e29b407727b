#include <clocale>
#include <string_view>

#include "tests/support/language.h"
#include "texts/catalog_posix.h"

namespace testing_support {

bool takeEnvironmentsLanguage() {
  (void)std::setlocale(LC_CTYPE, "");
  const char* messages = std::setlocale(LC_MESSAGES, "");
  texts::useCatalogs(PROJECT1_TEST_LOCALEDIR);
  return messages && std::string_view(messages).starts_with("zh_TW");
}

}  // namespace testing_support
