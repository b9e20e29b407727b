#include "virtual-printer/printer_model.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace vprinter {
namespace {

constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kFf = 0x0C;
constexpr std::uint8_t kEsc = 0x1B;

constexpr bool isPrintableAscii(std::uint8_t b) { return b >= 0x20 && b <= 0x7E; }
constexpr bool isControl(std::uint8_t b) { return b < 0x20 || b == 0x7F; }

std::string hex(std::uint8_t b) {
  char text[3];
  (void)std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

// What goes on paper in place of bytes that cannot be printed, e.g. "[1B 40]".
std::string marker(std::initializer_list<std::uint8_t> bytes) {
  std::string text = "[";
  for (std::uint8_t b : bytes) {
    if (text.size() > 1) text += ' ';
    text += hex(b);
  }
  return text + "]";
}

}  // namespace

std::vector<PrinterEvent> PrinterModel::feed(std::span<const std::uint8_t> bytes) {
  std::vector<PrinterEvent> events;
  events_ = &events;
  readCounted_ = false;
  for (std::uint8_t b : bytes) {
    // A form feed at the limit still ends the form as sent.
    if (form_.bytes >= kMaxFormBytes && b != kFf) cutForm();
    if (!readCounted_) {
      ++form_.reads;
      readCounted_ = true;
    }
    ++form_.bytes;
    take(b, offset_++);
  }
  events_ = nullptr;
  return events;
}

std::vector<PrinterEvent> PrinterModel::finish() {
  std::vector<PrinterEvent> events;
  events_ = &events;
  closePending("at end of stream");
  if (form_.bytes > 0) {
    if (!line_.empty()) printLine();
    keepAnomaly(offset_, "end of stream without form feed");
    endForm();
  }
  events_ = nullptr;
  return events;
}

// Prints an unfinished escape or character as it stands, since nothing more of it will come.
void PrinterModel::closePending(const char* where) {
  switch (state_) {
    case State::Text:
      break;
    case State::Escape:
      mark(std::string("truncated command ESC ") + where, pendingOffset_, {kEsc});
      break;
    case State::EscapeZ:
      mark(std::string("ESC z without its parameter ") + where, pendingOffset_, {kEsc, 'z'});
      break;
    case State::Lead:
      mark("truncated double-byte character " + hex(lead_) + " " + where, pendingOffset_, {lead_});
      break;
  }
  state_ = State::Text;
  wrapped_ = false;
}

void PrinterModel::cutForm() {
  closePending("where the form was cut");
  if (!line_.empty()) printLine();
  keepAnomaly(offset_, "form cut at " + std::to_string(form_.bytes) + " bytes without a form feed");
  endForm();
}

void PrinterModel::take(std::uint8_t b, std::uint64_t offset) {
  switch (std::exchange(state_, State::Text)) {
    case State::Text:
      takeText(b, offset);
      return;

    case State::Escape:
      if (b == 'z') {
        state_ = State::EscapeZ;
      } else if (isPrintableAscii(b)) {
        mark("unsupported command ESC " + std::string(1, static_cast<char>(b)) + " (1B " + hex(b) +
                 ")",
             pendingOffset_, {kEsc, b});
      } else {
        // Commands are ESC and a printable byte; keep the control byte so a line feed is not lost.
        mark("ESC without a command (followed by " + hex(b) + ")", pendingOffset_, {kEsc});
        takeText(b, offset);
      }
      return;

    case State::EscapeZ: {
      // The station choice is latched when a line starts; a half-built line keeps its stations.
      // Hosts often repeat the current choice mid-line; ignoring that changes nothing.
      const bool wanted = (b & 1) != 0;
      if (line_.empty()) {
        parallel_ = wanted;
      } else if (wanted != parallel_) {
        anomaly(pendingOffset_, std::string("ESC z ignored mid-line (journal stays ") +
                                    (parallel_ ? "on" : "off") + ")");
      }
      return;
    }

    case State::Lead:
      if (isBig5Trail(b)) {
        if (auto text = decoder_.decode(lead_, b)) {
          put(*text, 2, pendingOffset_);
        } else {
          mark(hex(lead_) + " " + hex(b) + " is not a Big5 character", pendingOffset_, {lead_, b});
        }
        return;
      }
      if (b == kFf) {
        mark("truncated double-byte character " + hex(lead_) + " at form feed", pendingOffset_,
             {lead_});
      } else if (isControl(b)) {
        mark("control byte " + hex(b) + " inside double-byte character " + hex(lead_),
             pendingOffset_, {lead_});
      } else {
        mark(hex(lead_) + " followed by " + hex(b) + " is not a Big5 character", pendingOffset_,
             {lead_});
      }
      takeText(b, offset);
      return;
  }
}

void PrinterModel::takeText(std::uint8_t b, std::uint64_t offset) {
  if (b == kLf) {
    printLine();
    wrapped_ = false;
  } else if (b == kFf) {
    // A form feed prints a pending line but does not feed a blank one.
    if (!line_.empty()) printLine();
    wrapped_ = false;
    endForm();
  } else if (b == kEsc) {
    state_ = State::Escape;
    pendingOffset_ = offset;
  } else if (isPrintableAscii(b)) {
    const char c = static_cast<char>(b);
    put(std::string_view(&c, 1), 1, offset);
  } else if (isBig5Lead(b)) {
    state_ = State::Lead;
    lead_ = b;
    pendingOffset_ = offset;
  } else if (isControl(b)) {
    mark("stray control byte " + hex(b), offset, {b});
  } else {
    mark("byte " + hex(b) + " is neither ASCII nor a Big5 lead byte", offset, {b});
  }
}

// What does not fit goes to the next line whole: a double-byte character or a marker is never
// split. Hosts lay out their lines to fit, so a wrap is worth telling, once per line.
void PrinterModel::put(std::string_view text, int columns, std::uint64_t offset) {
  if (lineColumns_ + columns > kPaperColumns) {
    if (!std::exchange(wrapped_, true)) {
      anomaly(offset, "line wider than " + std::to_string(kPaperColumns) + " columns wraps here");
    }
    printLine();
  }
  line_ += text;
  lineColumns_ += columns;
}

void PrinterModel::printLine() {
  if (form_.receipt.size() < kMaxKeptLines) {
    form_.receipt.push_back(line_);
  } else {
    ++form_.receiptLeftOut;
  }
  if (parallel_) {
    if (form_.journal.size() < kMaxKeptLines) {
      form_.journal.push_back(line_);
    } else {
      ++form_.journalLeftOut;
    }
  }
  events_->push_back(PrintedLine{.text = std::move(line_), .journal = parallel_});
  line_.clear();
  lineColumns_ = 0;
}

void PrinterModel::endForm() {
  const int number = form_.number;
  events_->push_back(std::move(form_));
  form_ = Form{.number = number + 1, .firstOffset = offset_};
  // Later bytes of the same chunk belong to the next form and bring it a read of its own.
  readCounted_ = false;
}

void PrinterModel::anomaly(std::uint64_t offset, std::string what) {
  if (form_.anomalies.size() >= kMaxKeptAnomalies) {
    ++form_.anomaliesLeftOut;
    return;
  }
  keepAnomaly(offset, std::move(what));
}

// Kept even past the limit: the anomaly that ends a form says why it ended where it did.
void PrinterModel::keepAnomaly(std::uint64_t offset, std::string what) {
  form_.anomalies.push_back(
      Anomaly{.offset = offset, .formOffset = offset - form_.firstOffset, .what = std::move(what)});
}

void PrinterModel::mark(std::string what, std::uint64_t offset,
                        std::initializer_list<std::uint8_t> bytes) {
  std::string text = marker(bytes);
  const int columns = static_cast<int>(text.size());
  put(text, columns, offset);
  anomaly(offset, std::move(what));
}

}  // namespace vprinter
