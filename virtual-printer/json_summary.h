#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "virtual-printer/form.h"

namespace vprinter {

// A JSON string literal, quotes included; the text is UTF-8 and passes through unescaped.
std::string jsonString(std::string_view utf8);

// A JSON array of such strings.
std::string jsonArray(const std::vector<std::string>& lines);

// One line of the forms summary, without the newline:
// {"form":1,"bytes":267,"reads":16,"line_time_ms":278.1,"receipt":[...],"journal":[...],
//  "anomalies":[{"offset":12,"form_offset":12,"what":"..."}],"png":"..."}
// When the picture could not be written, "png" is empty and "png_error" says why. A form that
// kept only part of its lines or anomalies says how many it left out, after the list:
// "receipt_left_out", "journal_left_out", "anomalies_left_out".
std::string formSummaryJson(const Form& form, std::string_view pngPath,
                            std::string_view pngError = {});

}  // namespace vprinter
