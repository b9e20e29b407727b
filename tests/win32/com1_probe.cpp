// Drives COM1 from inside Wine for a harness that has mapped COM1 to a pseudo-terminal:
//   com1_probe write            one test receipt through the serial control, as a click does
//   com1_probe hold <seconds>   holds COM1 open, says "held", then lets go
//   com1_probe lines            the line settings and modem status after opening COM1
// A SerialError prints "error <number>: <description>" and exits 3; bad usage exits 2.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "device_win32.h"
#include "mscomm.h"
#include "print_run.h"
#include "serial_error.h"
#include "wide_win32.h"

namespace {

// Keeps the first error the device raised, even one raised after the port was closed.
struct Failures {
  std::mutex mutex;
  std::optional<serial::SerialError> first;
  void record(const serial::SerialError& e) {
    std::lock_guard lock(mutex);
    if (!first) first = e;
  }
};

class RecordingDevice final : public serial::Device {
 public:
  RecordingDevice(std::unique_ptr<serial::Device> device, std::shared_ptr<Failures> failures)
      : device_(std::move(device)), failures_(std::move(failures)) {}
  void write(std::string_view bytes) override {
    try {
      device_->write(bytes);
    } catch (const serial::SerialError& e) {
      failures_->record(e);
      throw;
    }
  }
  void drain() override {
    try {
      device_->drain();
    } catch (const serial::SerialError& e) {
      failures_->record(e);
      throw;
    }
  }

 private:
  std::unique_ptr<serial::Device> device_;
  std::shared_ptr<Failures> failures_;
};

const std::wstring kCom1 = L"\\\\.\\COM1";

int report(const serial::SerialError& e) {
  std::printf("error %d: %s\n", e.number(), e.description().c_str());
  std::fflush(stdout);
  return 3;
}

int write() {
  auto failures = std::make_shared<Failures>();
  {
    serial::MSComm comm({}, [failures](const serial::Settings& settings) {
      return std::make_unique<RecordingDevice>(serial::openDevice(settings), failures);
    });
    receipt::runPrintTest(comm);
  }  // the control drains and releases the port before it goes
  if (failures->first) return report(*failures->first);
  return 0;
}

int hold(double seconds) {
  const auto device = serial::openWin32Device(kCom1, {});
  std::printf("held\n");
  std::fflush(stdout);
  ::Sleep(static_cast<DWORD>(seconds * 1000));
  return 0;
}

int lines() {
  const auto device = serial::openWin32Device(kCom1, {});
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(device->handle(), &dcb)) {
    std::printf("GetCommState failed: %s\n", serial::win32::systemReason(::GetLastError()).c_str());
    return 1;
  }
  std::printf("BaudRate=%lu ByteSize=%u Parity=%u StopBits=%u fDtrControl=%u fRtsControl=%u\n",
              dcb.BaudRate, dcb.ByteSize, dcb.Parity, dcb.StopBits, dcb.fDtrControl,
              dcb.fRtsControl);
  DWORD status = 0;
  if (::GetCommModemStatus(device->handle(), &status)) {
    std::printf("ModemStatus=0x%04lx\n", status);
  } else {
    std::printf("ModemStatus=%s\n", serial::win32::systemReason(::GetLastError()).c_str());
  }
  std::fflush(stdout);
  return 0;
}

int usage() {
  std::fputs("usage: com1_probe write | hold <seconds> | lines\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 2 && std::strcmp(argv[1], "write") == 0) return write();
    if (argc == 2 && std::strcmp(argv[1], "lines") == 0) return lines();
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
