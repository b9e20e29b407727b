#pragma once

#include <string>
#include <string_view>

#include "form.h"

namespace vprinter {

// Columns each station gets on the terminal; about what a 76 mm roll takes.
constexpr int kStationColumns = 40;

// "receipt text<padding> | journal text"; the journal side is empty when the line skipped it.
std::string sideBySide(const PrintedLine& line, int columns = kStationColumns);

// The heading above a form's first line.
std::string stationHeading(int formNumber, int columns = kStationColumns);

// "form 1: 267 bytes, 16 reads, 278.1 ms at 9600 baud, 22 receipt lines, 22 journal lines,
// 0 anomalies", then one line per anomaly.
std::string formReport(const Form& form);

}  // namespace vprinter
