#pragma once

#include <iconv.h>

#include <cstdint>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tests/golden/golden_job.h"
#include "virtual-printer/form.h"
#include "virtual-printer/printer_model.h"

namespace vprinter::testing {

using testing_support::goldenJob;
using testing_support::goldenLines;
using testing_support::goldenWrites;
using testing_support::kReceiptBytes;

inline std::span<const std::uint8_t> bytesOf(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Big5 (code page 950) bytes of a UTF-8 text, converted with iconv when the test runs.
inline std::string toCp950(std::string_view utf8) {
  iconv_t cd = iconv_open("CP950", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open(CP950)");
  std::string out(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  const std::size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1)) {
    throw std::runtime_error("not convertible to CP950: " + std::string(utf8));
  }
  out.resize(out.size() - outLeft);
  return out;
}

inline std::vector<Form> printAll(std::string_view bytes) {
  PrinterModel model;
  return formsIn(model.feed(bytesOf(bytes)));
}

inline std::vector<Form> printByteByByte(std::string_view bytes) {
  PrinterModel model;
  std::vector<Form> forms;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    for (Form& f : formsIn(model.feed(bytesOf(bytes.substr(i, 1))))) forms.push_back(std::move(f));
  }
  return forms;
}

// A mebibyte of the same random bytes each run, with no form feed: one form of pure noise.
inline std::string noiseWithoutFormFeed(unsigned seed) {
  std::mt19937 random(seed);  // NOLINT(cert-msc32-c,cert-msc51-cpp): the same noise each run
  std::string noise(1 << 20, '\0');
  for (char& c : noise) {
    do {
      c = static_cast<char>(random() & 0xFF);
    } while (c == '\x0C');
  }
  return noise;
}

}  // namespace vprinter::testing
