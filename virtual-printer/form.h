#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace vprinter {

// Something in the host's bytes the printer could not print as sent.
struct Anomaly {
  std::uint64_t offset = 0;      // bytes since the stream began
  std::uint64_t formOffset = 0;  // bytes since the form began
  std::string what{};

  bool operator==(const Anomaly&) const = default;
};

// One line as it leaves the print head; the receipt always gets it.
struct PrintedLine {
  std::string text{};  // UTF-8
  bool journal = false;

  bool operator==(const PrintedLine&) const = default;
};

// A printer's buffer is finite: a form that has this many bytes and still no form feed is cut
// there, and the bytes after the cut start the next form.
constexpr std::uint64_t kMaxFormBytes = std::uint64_t{1} << 20;

// A form keeps at most this many lines a station and anomalies (and the anomaly that ended it),
// and counts the rest, so that a runaway form costs bounded memory and a bounded summary line.
constexpr std::size_t kMaxKeptLines = 400;
constexpr std::size_t kMaxKeptAnomalies = 100;

// Everything between two form feeds.
struct Form {
  int number = 0;                 // from 1
  std::uint64_t firstOffset = 0;  // stream offset of the form's first byte
  std::uint64_t bytes = 0;
  std::uint64_t reads = 0;  // reads that brought at least one of its bytes
  std::vector<std::string> receipt{};
  std::vector<std::string> journal{};
  std::vector<Anomaly> anomalies{};
  // Printed or found, but past the kept ones above.
  std::uint64_t receiptLeftOut = 0;
  std::uint64_t journalLeftOut = 0;
  std::uint64_t anomaliesLeftOut = 0;

  bool operator==(const Form&) const = default;
};

using PrinterEvent = std::variant<PrintedLine, Form>;

// The forms among the events, in order.
inline std::vector<Form> formsIn(const std::vector<PrinterEvent>& events) {
  std::vector<Form> forms;
  for (const PrinterEvent& e : events) {
    if (const auto* f = std::get_if<Form>(&e)) forms.push_back(*f);
  }
  return forms;
}

// Columns of the paper: an ASCII character takes one, a double-byte character two.
constexpr int kPaperColumns = 40;

// How long the bytes take on the wire at 9600 baud, 10 bits a byte (start, 8 data, stop).
constexpr double lineTimeMs(std::uint64_t bytes) {
  return static_cast<double>(bytes) * 10.0 * 1000.0 / 9600.0;
}

}  // namespace vprinter
