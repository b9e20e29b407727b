#pragma once

#include <ostream>

#include "virtual-printer/options.h"

namespace vprinter {

// Runs the printer on a fresh pseudo-terminal until it has printed options.forms forms or
// SIGINT, SIGTERM or SIGHUP arrives. Reports to `out`; throws on a failed system call. False
// when a form's picture or summary line could not be written (it said so and carried on).
// Once `out` cannot be written (its reader went away), says so once on `err` and goes on
// recording forms without it.
bool runPrinter(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace vprinter
