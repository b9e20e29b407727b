#include <gtest/gtest.h>

#include <cstring>

#include "serial/internal/dcb_win32.h"

namespace {

using namespace std::chrono_literals;
using serial::Handshaking;
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

TEST(Dcb, OtherSettingsReachTheLine) {
  const struct {
    const char* name;
    Settings settings;
    DWORD baud;
    BYTE byteSize, parity, stopBits;
    unsigned fParity, fErrorChar, fOutxCtsFlow, fOutX, fInX, fDtrControl, fRtsControl;
  } cases[] = {
      {"19200 7E2",
       {.baud = 19200, .parity = Parity::Even, .dataBits = 7, .stopBits = 2},
       19200,
       7,
       EVENPARITY,
       TWOSTOPBITS,
       1,
       1,
       0,
       0,
       0,
       DTR_CONTROL_ENABLE,
       RTS_CONTROL_DISABLE},
      {"odd parity, no replacement character",
       {.parity = Parity::Odd, .parityReplace = '\0'},
       9600,
       8,
       ODDPARITY,
       ONESTOPBIT,
       1,
       0,
       0,
       0,
       0,
       DTR_CONTROL_ENABLE,
       RTS_CONTROL_DISABLE},
      {"XON/XOFF",
       {.handshaking = Handshaking::XonXoff},
       9600,
       8,
       NOPARITY,
       ONESTOPBIT,
       0,
       0,
       0,
       1,
       1,
       DTR_CONTROL_ENABLE,
       RTS_CONTROL_DISABLE},
      {"RTS/CTS",
       {.handshaking = Handshaking::RtsCts},
       9600,
       8,
       NOPARITY,
       ONESTOPBIT,
       0,
       0,
       1,
       0,
       0,
       DTR_CONTROL_ENABLE,
       RTS_CONTROL_HANDSHAKE},
      {"DTR off, RTS on",
       {.dtrEnable = false, .rtsEnable = true},
       9600,
       8,
       NOPARITY,
       ONESTOPBIT,
       0,
       0,
       0,
       0,
       0,
       DTR_CONTROL_DISABLE,
       RTS_CONTROL_ENABLE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DCB d = makeDcb(c.settings, dirty());
    EXPECT_EQ(d.BaudRate, c.baud);
    EXPECT_EQ(d.ByteSize, c.byteSize);
    EXPECT_EQ(d.Parity, c.parity);
    EXPECT_EQ(d.StopBits, c.stopBits);
    EXPECT_EQ(d.fParity, c.fParity);
    EXPECT_EQ(d.fErrorChar, c.fErrorChar);
    EXPECT_EQ(d.fOutxCtsFlow, c.fOutxCtsFlow);
    EXPECT_EQ(d.fOutX, c.fOutX);
    EXPECT_EQ(d.fInX, c.fInX);
    EXPECT_EQ(d.fDtrControl, c.fDtrControl);
    EXPECT_EQ(d.fRtsControl, c.fRtsControl);
    EXPECT_EQ(d.fOutxDsrFlow, 0u);  // never: a printer's DSR says nothing about taking data
  }
}

TEST(Dcb, SettingsADcbCannotHoldAreNamed) {
  const struct {
    Settings settings;
    const char* named;
  } cases[] = {
      {{}, ""},
      {{.baud = 0}, "baud rate 0"},
      {{.dataBits = 4}, "4 data bits"},
      {{.dataBits = 9}, "9 data bits"},
      {{.stopBits = 0}, "0 stop bits"},
      {{.stopBits = 3}, "3 stop bits"},
      {{.writeTimeout = -1ms}, "write timeout"},
      {{.writeTimeout = std::chrono::milliseconds(MAXDWORD)}, "write timeout"},
  };
  for (const auto& c : cases) EXPECT_EQ(serial::internal::unsupportedSettings(c.settings), c.named);
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
