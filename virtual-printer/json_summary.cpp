#include "virtual-printer/json_summary.h"

#include <cstdio>
#include <vector>

namespace vprinter {
namespace {

// Only a form too long to keep whole has these, so the usual line keeps its shape.
std::string leftOut(const char* name, std::uint64_t count) {
  if (count == 0) return {};
  return std::string(",\"") + name + "\":" + std::to_string(count);
}

}  // namespace

std::string jsonArray(const std::vector<std::string>& lines) {
  std::string out = "[";
  for (const std::string& line : lines) {
    if (out.size() > 1) out += ',';
    out += jsonString(line);
  }
  return out + "]";
}

std::string jsonString(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          (void)std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned char>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string formSummaryJson(const Form& form, std::string_view pngPath, std::string_view pngError) {
  char ms[32];
  (void)std::snprintf(ms, sizeof ms, "%.1f", lineTimeMs(form.bytes));
  std::string out =
      "{\"form\":" + std::to_string(form.number) + ",\"bytes\":" + std::to_string(form.bytes) +
      ",\"reads\":" + std::to_string(form.reads) + ",\"line_time_ms\":" + ms +
      ",\"receipt\":" + jsonArray(form.receipt) + leftOut("receipt_left_out", form.receiptLeftOut) +
      ",\"journal\":" + jsonArray(form.journal) + leftOut("journal_left_out", form.journalLeftOut) +
      ",\"anomalies\":[";
  for (std::size_t i = 0; i < form.anomalies.size(); ++i) {
    const Anomaly& a = form.anomalies[i];
    if (i > 0) out += ',';
    out += "{\"offset\":" + std::to_string(a.offset) +
           ",\"form_offset\":" + std::to_string(a.formOffset) + ",\"what\":" + jsonString(a.what) +
           "}";
  }
  out += "]" + leftOut("anomalies_left_out", form.anomaliesLeftOut) +
         ",\"png\":" + jsonString(pngPath);
  if (!pngError.empty()) out += ",\"png_error\":" + jsonString(pngError);
  return out + "}";
}

}  // namespace vprinter
