#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "serial/internal/dcb_win32.h"
#include "tests/support/framing_cases.h"

namespace {

using namespace std::chrono_literals;
using serial::Parity;
using serial::Settings;
using serial::internal::makeDcb;
using serial::internal::makeTimeouts;

// What the port's last user may have left: every bit of every field set (a modem program's
// handshakes, an abort on every error, odd characters, a wrong length).
DCB dirty() {
  DCB d;
  std::memset(&d, 0xFF, sizeof d);
  return d;
}

// The line a DCB describes, in the words of kFramingCases ("19200 7E2 XON/XOFF"); flow control
// that is neither handshake by the fields that are set.
std::string lineOf(const DCB& d) {
  std::string line = std::to_string(d.BaudRate) + " " + std::to_string(d.ByteSize);
  switch (d.Parity) {
    case NOPARITY:
      line += "N";
      break;
    case ODDPARITY:
      line += "O";
      break;
    case EVENPARITY:
      line += "E";
      break;
    default:
      line += "?";
  }
  line += d.StopBits == ONESTOPBIT ? "1" : d.StopBits == TWOSTOPBITS ? "2" : "?";
  const std::string flow = testing_support::flowWords(
      {
          {d.fOutxCtsFlow != 0, "fOutxCtsFlow"},
          {d.fRtsControl == RTS_CONTROL_HANDSHAKE, "RTS_CONTROL_HANDSHAKE"},
          {d.fOutxDsrFlow != 0, "fOutxDsrFlow"},
          {d.fDtrControl == DTR_CONTROL_HANDSHAKE, "DTR_CONTROL_HANDSHAKE"},
          {d.fOutX != 0, "fOutX"},
          {d.fInX != 0, "fInX"},
      },
      "fOutxCtsFlow+RTS_CONTROL_HANDSHAKE", "fOutX+fInX");
  return flow.empty() ? line : line + " " + flow;
}

TEST(Dcb, TheDefaultSettingsSetEveryFieldWhateverThePortHad) {
  for (const DCB& from : {DCB{}, dirty()}) {
    SCOPED_TRACE(from.BaudRate ? "from a dirty DCB" : "from a zeroed one");
    const DCB d = makeDcb(Settings{}, from);
    const struct {
      const char* field;
      unsigned long actual;
      unsigned long expected;
    } fields[] = {
        {"DCBlength", d.DCBlength, sizeof(DCB)},
        {"BaudRate", d.BaudRate, 9600},
        {"fBinary", d.fBinary, 1},
        {"fParity", d.fParity, 0},
        {"fOutxCtsFlow", d.fOutxCtsFlow, 0},
        {"fOutxDsrFlow", d.fOutxDsrFlow, 0},
        {"fDtrControl", d.fDtrControl, DTR_CONTROL_ENABLE},
        {"fDsrSensitivity", d.fDsrSensitivity, 0},
        {"fTXContinueOnXoff", d.fTXContinueOnXoff, 1},
        {"fOutX", d.fOutX, 0},
        {"fInX", d.fInX, 0},
        {"fErrorChar", d.fErrorChar, 0},
        {"fNull", d.fNull, 0},
        {"fRtsControl", d.fRtsControl, RTS_CONTROL_DISABLE},
        {"fAbortOnError", d.fAbortOnError, 0},
        {"fDummy2", d.fDummy2, 0},
        {"wReserved", d.wReserved, 0},
        {"XonLim", d.XonLim, 256},
        {"XoffLim", d.XoffLim, 256},
        {"ByteSize", d.ByteSize, 8},
        {"Parity", d.Parity, NOPARITY},
        {"StopBits", d.StopBits, ONESTOPBIT},
        {"XonChar", static_cast<unsigned char>(d.XonChar), 0x11},
        {"XoffChar", static_cast<unsigned char>(d.XoffChar), 0x13},
        {"ErrorChar", static_cast<unsigned char>(d.ErrorChar), '?'},
        {"EofChar", static_cast<unsigned char>(d.EofChar), 0},
        {"EvtChar", static_cast<unsigned char>(d.EvtChar), 0},
        {"wReserved1", d.wReserved1, 0},
    };
    for (const auto& f : fields) EXPECT_EQ(f.actual, f.expected) << f.field;
  }
}

TEST(Dcb, EveryFramingReachesTheLineWhateverThePortHad) {
  for (const auto& c : testing_support::kFramingCases) {
    SCOPED_TRACE(c.line);
    const DCB d = makeDcb(c.settings, dirty());
    EXPECT_EQ(lineOf(d), c.line);
    // Parity is checked, and a byte that fails it replaced with '?', where the line has parity.
    EXPECT_EQ(d.fParity != 0, d.Parity != NOPARITY);
    EXPECT_EQ(d.fErrorChar != 0, d.Parity != NOPARITY);
    EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    // RTS stays down unless it is the handshake, which lineOf() shows.
    if (d.fRtsControl != RTS_CONTROL_HANDSHAKE) {
      EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    }
    EXPECT_EQ(d.fOutxDsrFlow, 0u);  // never: a printer's DSR says nothing about taking data
  }
}

TEST(Dcb, TheModemLinesAndTheParityReplacementReachTheLine) {
  const struct {
    const char* name;
    Settings settings;
    const char* line;
    unsigned fParity, fErrorChar, fDtrControl, fRtsControl;
  } cases[] = {
      {"odd parity, no replacement character",
       {.parity = Parity::Odd, .parityReplace = '\0'},
       "9600 8O1",
       1,
       0,
       DTR_CONTROL_ENABLE,
       RTS_CONTROL_DISABLE},
      {"DTR off, RTS on",
       {.dtrEnable = false, .rtsEnable = true},
       "9600 8N1",
       0,
       0,
       DTR_CONTROL_DISABLE,
       RTS_CONTROL_ENABLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DCB d = makeDcb(c.settings, dirty());
    EXPECT_EQ(lineOf(d), c.line);
    EXPECT_EQ(d.fParity, c.fParity);
    EXPECT_EQ(d.fErrorChar, c.fErrorChar);
    EXPECT_EQ(d.fDtrControl, c.fDtrControl);
    EXPECT_EQ(d.fRtsControl, c.fRtsControl);
  }
}

TEST(Dcb, SettingsADcbCannotHoldAreNamedAsOnLinux) {
  for (const auto& c : testing_support::kUnsupportedCases) {
    EXPECT_EQ(serial::internal::unsupportedSettings(c.settings), c.named);
  }
  // MAXDWORD is no timeout at all to SetCommTimeouts.
  EXPECT_EQ(
      serial::internal::unsupportedSettings({.writeTimeout = std::chrono::milliseconds(MAXDWORD)}),
      "write timeout");
}

TEST(Timeouts, ReadsReturnAtOnceAndAWriteCallReturnsWithinASliceWhateverItSent) {
  const struct {
    Settings settings;
    DWORD constant;
  } cases[] = {
      {{}, 200},  // the line's progress is judged between calls, over the 3 s write timeout
      {{.baud = 1200}, 200},
      {{.baud = 115200}, 200},
      {{.writeTimeout = 50ms}, 50},  // never longer than the whole timeout
      {{.writeTimeout = 0ms}, 1},    // never 0, which would mean no limit at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings.writeTimeout.count());
    const COMMTIMEOUTS t = makeTimeouts(c.settings);
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, c.constant);
  }
}

TEST(Dcb, AReadBackNamesWhatThePortKeptOfWhatMatters) {
  const DCB wanted = makeDcb(Settings{}, DCB{});
  const struct {
    const char* name;
    void (*change)(DCB&);
    const char* kept;
  } cases[] = {
      {"all taken", [](DCB&) {}, ""},
      {"speed", [](DCB& d) { d.BaudRate = 19200; }, "BaudRate 19200 instead of 9600"},
      {"framing and flow control",
       [](DCB& d) {
         d.ByteSize = 7;
         d.Parity = EVENPARITY;
         d.fOutxCtsFlow = 1;
         d.fOutX = 1;
       },
       "ByteSize 7 instead of 8, Parity 2 instead of 0, fOutxCtsFlow 1 instead of 0, "
       "fOutX 1 instead of 0"},
      {"RTS as handshake", [](DCB& d) { d.fRtsControl = RTS_CONTROL_HANDSHAKE; },
       "RTS handshake 1 instead of 0"},
      // Wine on a pseudo-terminal reports RTS on whatever was set.
      {"RTS and DTR as plain outputs",
       [](DCB& d) {
         d.fRtsControl = RTS_CONTROL_ENABLE;
         d.fDtrControl = DTR_CONTROL_DISABLE;
       },
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DCB got = wanted;
    c.change(got);
    EXPECT_EQ(serial::internal::lineSettingsMismatch(wanted, got), c.kept);
  }
}

}  // namespace
