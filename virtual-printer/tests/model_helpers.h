#pragma once

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

}  // namespace vprinter::testing
