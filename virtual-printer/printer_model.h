#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "virtual-printer/big5_decoder.h"
#include "virtual-printer/form.h"

namespace vprinter {

// A two-station (receipt and journal) printer: bytes in, printed lines and forms out.
// A line wider than the paper wraps onto the next one, as on paper.
// A form with no form feed is cut at kMaxFormBytes, as a full buffer would print it.
// Results do not depend on how the bytes are split into chunks.
class PrinterModel {
 public:
  // One chunk as read from the host; it counts as one read for each form it brings bytes to.
  std::vector<PrinterEvent> feed(std::span<const std::uint8_t> bytes);

  // The stream has ended: prints what is pending and closes the form if it has any bytes.
  std::vector<PrinterEvent> finish();

  bool parallel() const { return parallel_; }

 private:
  enum class State { Text, Escape, EscapeZ, Lead };

  void take(std::uint8_t b, std::uint64_t offset);
  void takeText(std::uint8_t b, std::uint64_t offset);
  void put(std::string_view text, int columns, std::uint64_t offset);
  void printLine();
  void closePending(const char* where);
  void cutForm();
  void endForm();
  void anomaly(std::uint64_t offset, std::string what);
  void keepAnomaly(std::uint64_t offset, std::string what);
  void mark(std::string what, std::uint64_t offset, std::initializer_list<std::uint8_t> bytes);

  Big5Decoder decoder_;
  std::vector<PrinterEvent>* events_ = nullptr;
  State state_ = State::Text;
  std::uint8_t lead_ = 0;
  std::uint64_t pendingOffset_ = 0;  // where the unfinished escape or character began
  std::uint64_t offset_ = 0;         // of the next byte
  bool readCounted_ = false;
  bool parallel_ = false;
  std::string line_;
  int lineColumns_ = 0;
  bool wrapped_ = false;  // the host's current line has already wrapped once
  Form form_{.number = 1};
};

}  // namespace vprinter
