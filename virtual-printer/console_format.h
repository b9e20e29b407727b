#pragma once

#include <string>
#include <string_view>

#include "virtual-printer/form.h"

namespace vprinter {

// Each station gets the paper's columns on the terminal.
// "receipt text<padding> | journal text"; the journal side is empty when the line skipped it.
std::string sideBySide(const PrintedLine& line, int columns = kPaperColumns);

// The heading above a form's first line.
std::string stationHeading(int formNumber, int columns = kPaperColumns);

// "form 1: 267 bytes, 16 reads, 278.1 ms at 9600 baud, 22 receipt lines, 22 journal lines,
// 0 anomalies", then one line per anomaly kept and how many more there were.
std::string formReport(const Form& form);

}  // namespace vprinter
