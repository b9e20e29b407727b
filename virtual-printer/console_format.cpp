#include "virtual-printer/console_format.h"

#include <cstdio>

#include "virtual-printer/text_width.h"

namespace vprinter {
namespace {

std::string padded(std::string_view text, int columns) {
  std::string out(text);
  const int width = displayWidth(text);
  if (width < columns) out.append(static_cast<std::size_t>(columns - width), ' ');
  return out;
}

std::string count(std::uint64_t n, const char* singular, const char* plural) {
  return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

}  // namespace

std::string sideBySide(const PrintedLine& line, int columns) {
  return padded(line.text, columns) + " | " + (line.journal ? line.text : std::string());
}

std::string stationHeading(int formNumber, int columns) {
  const std::string title = "form " + std::to_string(formNumber);
  return padded("receipt (" + title + ")", columns) + " | journal (" + title + ")";
}

std::string formReport(const Form& form) {
  char ms[32];
  (void)std::snprintf(ms, sizeof ms, "%.1f", lineTimeMs(form.bytes));
  std::string text =
      "form " + std::to_string(form.number) + ": " + count(form.bytes, "byte", "bytes") + ", " +
      count(form.reads, "read", "reads") + ", " + ms + " ms at 9600 baud, " +
      count(form.receipt.size() + form.receiptLeftOut, "receipt line", "receipt lines") + ", " +
      count(form.journal.size() + form.journalLeftOut, "journal line", "journal lines") + ", " +
      count(form.anomalies.size() + form.anomaliesLeftOut, "anomaly", "anomalies") + "\n";
  for (const Anomaly& a : form.anomalies) {
    text += "  anomaly at byte " + std::to_string(a.offset) + " (form byte " +
            std::to_string(a.formOffset) + "): " + a.what + "\n";
  }
  if (form.anomaliesLeftOut > 0) {
    text += "  " + count(form.anomaliesLeftOut, "more anomaly", "more anomalies") + " not listed\n";
  }
  return text;
}

}  // namespace vprinter
