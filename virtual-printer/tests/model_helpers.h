#pragma once

#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "form.h"
#include "golden_receipt.h"
#include "printer_model.h"

namespace vprinter::testing {

inline std::vector<Form> formsIn(const std::vector<PrinterEvent>& events) {
  std::vector<Form> forms;
  for (const PrinterEvent& e : events) {
    if (const auto* f = std::get_if<Form>(&e)) forms.push_back(*f);
  }
  return forms;
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
