#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

#include "virtual-printer/options.h"
#include "virtual-printer/session.h"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  vprinter::Options options;
  try {
    options = vprinter::parseOptions(args);
  } catch (const vprinter::UsageError& e) {
    std::cerr << "virtual-printer: " << e.what() << "\n" << vprinter::usage();
    return 2;
  }
  if (options.help) {
    std::cout << vprinter::usage();
    return 0;
  }
  try {
    if (!vprinter::runPrinter(options, std::cout, std::cerr)) return 1;
  } catch (const std::exception& e) {
    std::cerr << "virtual-printer: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
