#include "serial/internal/dcb_win32.h"

#include <algorithm>
#include <limits>

namespace serial::internal {

std::string unsupportedSettings(const Settings& s) {
  if (s.baud == 0) return "baud rate 0";
  if (auto framing = unsupportedFraming(s); !framing.empty()) return framing;
  // MAXDWORD is no timeout at all: the write could then wait for ever.
  constexpr long long kMaxDword = std::numeric_limits<DWORD>::max();
  if (s.writeTimeout.count() < 0 || s.writeTimeout.count() >= kMaxDword) return "write timeout";
  return {};
}

// Every field is set: the driver keeps whatever the port's last user left, a modem program's
// hardware handshake or a stray XOFF wait included. Starting from `current`, not from nothing,
// leaves no byte indeterminate.
DCB makeDcb(const Settings& s, const DCB& current) {
  const bool parity = s.parity != Parity::None;
  const WORD flowLimit = static_cast<WORD>(std::min<std::size_t>(s.inBufferSize / 4, 0xFFFF));
  DCB dcb = current;
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = s.baud;
  dcb.fBinary = TRUE;  // Windows supports nothing else
  dcb.fParity = parity;
  dcb.fOutxCtsFlow = s.handshaking == Handshaking::RtsCts;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = s.dtrEnable ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = s.handshaking == Handshaking::XonXoff;
  dcb.fInX = s.handshaking == Handshaking::XonXoff;
  dcb.fErrorChar = parity && s.parityReplace != '\0';
  dcb.fNull = FALSE;
  dcb.fRtsControl = s.handshaking == Handshaking::RtsCts ? RTS_CONTROL_HANDSHAKE
                    : s.rtsEnable                        ? RTS_CONTROL_ENABLE
                                                         : RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = FALSE;  // a line error must not stall every later write
  dcb.fDummy2 = 0;
  dcb.wReserved = 0;
  dcb.XonLim = flowLimit;
  dcb.XoffLim = flowLimit;
  dcb.ByteSize = static_cast<BYTE>(s.dataBits);
  dcb.Parity = s.parity == Parity::Odd    ? ODDPARITY
               : s.parity == Parity::Even ? EVENPARITY
                                          : NOPARITY;
  dcb.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.ErrorChar = s.parityReplace;
  dcb.EofChar = 0;
  dcb.EvtChar = 0;
  dcb.wReserved1 = 0;
  return dcb;
}

// Short slices: whether the line has stopped is decided between calls, by the device, over the
// settings' write timeout.
COMMTIMEOUTS makeTimeouts(const Settings& s) {
  COMMTIMEOUTS t;
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0;
  // Never 0: with no multiplier either, that would mean no limit at all.
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant =
      static_cast<DWORD>(std::clamp<long long>(s.writeTimeout.count(), 1, kWriteSlice.count()));
  return t;
}

std::string lineSettingsMismatch(const DCB& wanted, const DCB& got) {
  std::string kept;
  const auto check = [&](const char* name, unsigned w, unsigned g) {
    if (w == g) return;
    if (!kept.empty()) kept += ", ";
    kept += std::string(name) + " " + std::to_string(g) + " instead of " + std::to_string(w);
  };
  check("BaudRate", wanted.BaudRate, got.BaudRate);
  check("ByteSize", wanted.ByteSize, got.ByteSize);
  check("Parity", wanted.Parity, got.Parity);
  check("StopBits", wanted.StopBits, got.StopBits);
  check("fOutxCtsFlow", wanted.fOutxCtsFlow, got.fOutxCtsFlow);
  check("fOutxDsrFlow", wanted.fOutxDsrFlow, got.fOutxDsrFlow);
  check("fOutX", wanted.fOutX, got.fOutX);
  check("fInX", wanted.fInX, got.fInX);
  // DTR and RTS as plain outputs are left out: some drivers (Wine's on a pseudo-terminal, a
  // few USB adapters) report them as they cannot set them. RTS as handshake does matter.
  check("RTS handshake", wanted.fRtsControl == RTS_CONTROL_HANDSHAKE,
        got.fRtsControl == RTS_CONTROL_HANDSHAKE);
  return kept;
}

}  // namespace serial::internal
