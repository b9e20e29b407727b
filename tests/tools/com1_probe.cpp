// Drives COM1 from inside Wine for a harness that has mapped COM1 to a pseudo-terminal:
//   com1_probe write            one test receipt through the serial control, as a click does
//   com1_probe hold <seconds>   holds COM1 open, says "held", then lets go
//   com1_probe lines            the line settings and modem status after opening COM1
//   com1_probe clicks <count>   times <count> print runs one after another (median, min, max)
// A SerialError prints "error <number>: <description>" and exits 3; bad usage exits 2.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "receipt/print_run.h"
#include "serial/internal/device_win32.h"
#include "serial/internal/os_error.h"
#include "serial/mscomm.h"
#include "serial/serial_error.h"

namespace {

const std::wstring kCom1 = L"\\\\.\\COM1";

int report(const serial::SerialError& e) {
  std::printf("error %d: %s\n", e.number(), e.description().c_str());
  std::fflush(stdout);
  return 3;
}

int write() {
  serial::MSComm comm;
  receipt::runPrintTest(comm);
  // Waits for the bytes to go; reports one that failed after the port was closed.
  if (const auto failure = comm.finish()) return report(*failure);
  return 0;
}

// What a click costs the window: `count` print runs one after another, each timed.
int clicks(int count) {
  serial::MSComm comm;
  std::vector<double> micros;
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  for (int i = 0; i < count; ++i) {
    LARGE_INTEGER start, stop;
    ::QueryPerformanceCounter(&start);
    receipt::runPrintTest(comm);
    ::QueryPerformanceCounter(&stop);
    micros.push_back(1e6 * static_cast<double>(stop.QuadPart - start.QuadPart) /
                     static_cast<double>(frequency.QuadPart));
    // The next open would wait for this receipt to drain: not the click's own cost.
    if (const auto failure = comm.finish()) return report(*failure);
  }
  std::sort(micros.begin(), micros.end());
  std::printf("clicks %d median_us %.1f min_us %.1f max_us %.1f\n", count,
              micros[micros.size() / 2], micros.front(), micros.back());
  std::fflush(stdout);
  return 0;
}

int hold(double seconds) {
  const serial::internal::Win32Device device(kCom1, {});
  std::printf("held\n");
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(seconds * 1000));
  return 0;
}

int lines() {
  const serial::internal::Win32Device device(kCom1, {});
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(device.handle(), &dcb)) {
    std::printf("GetCommState failed: %s\n",
                serial::internal::systemReason(::GetLastError()).c_str());
    return 1;
  }
  std::printf("BaudRate=%lu ByteSize=%u Parity=%u StopBits=%u fDtrControl=%u fRtsControl=%u\n",
              dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits, dcb.fDtrControl,
              dcb.fRtsControl);
  DWORD status = 0;
  if (::GetCommModemStatus(device.handle(), &status)) {
    std::printf("ModemStatus=0x%04lx\n", status);
  } else {
    std::printf("ModemStatus=%s\n", serial::internal::systemReason(::GetLastError()).c_str());
  }
  std::fflush(stdout);
  return 0;
}

int usage() {
  std::fputs("usage: com1_probe write | hold <seconds> | lines | clicks <count>\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 2 && std::strcmp(argv[1], "write") == 0) return write();
    if (argc == 2 && std::strcmp(argv[1], "lines") == 0) return lines();
    if (argc == 3 && std::strcmp(argv[1], "clicks") == 0) {
      const int count = std::atoi(argv[2]);
      return count > 0 ? clicks(count) : usage();
    }
    if (argc == 3 && std::strcmp(argv[1], "hold") == 0) {
      char* end = nullptr;
      const double seconds = std::strtod(argv[2], &end);
      if (end == argv[2] || *end != '\0' || !(seconds >= 0 && seconds < 86400)) return usage();
      return hold(seconds);
    }
    return usage();
  } catch (const serial::SerialError& e) {
    return report(e);
  }
}
