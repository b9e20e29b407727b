#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "receipt/print_run.h"
#include "serial/device.h"
#include "serial/internal/modem_lines_posix.h"
#include "serial/mscomm.h"
#include "serial/serial_error.h"
#include "tests/golden/golden_job.h"
#include "tests/support/failures.h"
#include "tests/support/in_child.h"
#include "tests/support/pty_pair.h"
#include "tests/support/temp_dir.h"
#include "tools/private_dev.h"

namespace {

using namespace std::chrono_literals;
using serial::ErrorCode;
using serial::SerialError;
using testing_support::errorOf;
using testing_support::errorOpening;
using testing_support::goldenJob;
using testing_support::kReceiptBytes;
using testing_support::PtyPair;
using testing_support::toHex;

serial::DeviceOpener openerFor(const std::string& path) {
  return [path](const serial::Settings& s) { return serial::openDeviceAt(path, s); };
}

class PosixDevice : public ::testing::Test {
 protected:
  PtyPair pty;
};

TEST_F(PosixDevice, TheJobArrivesExactlyAndTheLineIsSetUp) {
  serial::MSComm comm({}, openerFor(pty.slavePath()));
  receipt::runPrintTest(comm);
  EXPECT_EQ(toHex(pty.read(kReceiptBytes, 2s)), toHex(goldenJob()));
  EXPECT_EQ(pty.read(1, 50ms), "");  // nothing added

  // The settings stay on the pty after the port is closed: read them back from our side.
  termios tio{};
  ASSERT_EQ(tcgetattr(pty.slave(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), B9600);
  EXPECT_EQ(cfgetispeed(&tio), B9600);
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t{CS8});
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);  // LF leaves as LF, not CR LF
}

TEST_F(PosixDevice, LFIsNotTurnedIntoCRLFEvenFromACookedPty) {
  // A fresh pty turns LF into CR LF; the device must switch that off itself.
  termios cooked{};
  ASSERT_EQ(tcgetattr(pty.slave(), &cooked), 0);
  cooked.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(tcsetattr(pty.slave(), TCSANOW, &cooked), 0);
  auto device = serial::openDeviceAt(pty.slavePath(), {});
  device->write("\n\n");
  device->drain();
  EXPECT_EQ(toHex(pty.read(2, 1s)), "0A 0A");
}

TEST_F(PosixDevice, OpenErrorsSayWhatToCheck) {
  const std::string missing = "/nonexistent/ttyS0";
  const testing_support::TempDir files;
  const std::string file = files.path() / "not-a-tty";
  std::ofstream(file).put('x');

  const struct {
    std::string path;
    ErrorCode code;
    const char* says;
  } cases[] = {
      {missing, ErrorCode::NoSuchPort, "No such port"},
      {file, ErrorCode::NotSerialDevice, "not a serial port"},
      {"/tmp", ErrorCode::NotSerialDevice, "not a serial port"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const SerialError e = errorOpening(c.path);
    EXPECT_EQ(e.code(), c.code);
    EXPECT_NE(e.description().find("COM1 (" + c.path + ")"), std::string::npos) << e.what();
    EXPECT_NE(e.description().find(c.says), std::string::npos) << e.what();
  }
}

TEST_F(PosixDevice, ASecondOpenWhileHeldIsInUse) {
  auto first = serial::openDeviceAt(pty.slavePath(), {});
  const SerialError e = errorOpening(pty.slavePath());
  EXPECT_EQ(e.code(), ErrorCode::InUse);
  EXPECT_NE(e.description().find("in use by another program"), std::string::npos);
  // Linux's advice, not only for what open() itself refused.
  EXPECT_NE(e.description().find("ModemManager"), std::string::npos) << e.what();
  first.reset();
  EXPECT_NO_THROW(serial::openDeviceAt(pty.slavePath(), {}));  // free again
}

TEST_F(PosixDevice, AnotherProgramsLockIsRespected) {
  const int other = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_EQ(errorOpening(pty.slavePath()).code(), ErrorCode::InUse);
  close(other);
}

TEST_F(PosixDevice, NoDescriptorLeaksAcrossOpensAndFailures) {
  const int before = testing_support::openFdCount();
  for (int i = 0; i < 100; ++i) {
    {
      auto held = serial::openDeviceAt(pty.slavePath(), {});
      EXPECT_THROW(serial::openDeviceAt(pty.slavePath(), {}), SerialError);
    }
    EXPECT_THROW(serial::openDeviceAt("/tmp", {}), SerialError);
    EXPECT_THROW(serial::openDeviceAt("/nonexistent/ttyS0", {}), SerialError);
  }
  serial::MSComm comm({}, openerFor(pty.slavePath()));
  for (int i = 0; i < 100; ++i) {
    receipt::runPrintTest(comm);
    ASSERT_EQ(pty.read(kReceiptBytes, 2s).size(), kReceiptBytes);
  }
  comm.setPortOpen(true);  // waits for the last session to let go
  comm.setPortOpen(false);
  std::this_thread::sleep_for(10ms);
  EXPECT_LE(testing_support::openFdCount(), before + 1);
}

TEST_F(PosixDevice, BytesFromThePrinterChangeNothingAndAreNeverRead) {
  const std::string noise = "\x10\x04\x01\x12\x00\xff status";
  ASSERT_EQ(write(pty.master(), noise.data(), noise.size()), static_cast<ssize_t>(noise.size()));
  serial::MSComm comm({}, openerFor(pty.slavePath()));
  receipt::runPrintTest(comm);
  EXPECT_EQ(toHex(pty.read(kReceiptBytes, 2s)), toHex(goldenJob()));
  comm.setPortOpen(true);
  int waiting = 0;
  ASSERT_EQ(ioctl(pty.slave(), FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, static_cast<int>(noise.size()));
}

TEST_F(PosixDevice, ALineThatVanishesOrStallsEndsInAnError) {
  const struct {
    const char* name;
    bool closeMaster;
    ErrorCode code;
  } cases[] = {
      {"other side closed", true, ErrorCode::WriteFailed},
      {"nobody reads", false, ErrorCode::WriteTimedOut},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair line;
    serial::Settings settings;
    settings.writeTimeout = 200ms;
    auto device = serial::openDeviceAt(line.slavePath(), settings);
    if (c.closeMaster) line.closeMaster();
    const auto start = std::chrono::steady_clock::now();
    // Far more than a pty buffers: a reader that never reads must time out.
    const SerialError e = errorOf([&] {
      for (int i = 0; i < 1000; ++i) device->write(std::string(4096, 'x'));
    });
    EXPECT_EQ(e.code(), c.code) << e.what();
    EXPECT_NE(e.description().find("COM1 (" + line.slavePath() + "): write"), std::string::npos)
        << e.what();
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              settings.writeTimeout + serial::unseenQueueAllowance(settings) + 1s);
  }
}

bool exclusive(int fd) {
  int on = 0;
  EXPECT_EQ(ioctl(fd, TIOCGEXCL, &on), 0);
  return on != 0;
}

// Linux keeps exclusive mode for as long as the tty lives: left set, it locks out every later
// opener but root, this program's next click included.
TEST_F(PosixDevice, ExclusiveModeIsClearedWhateverTheWayTheDeviceGoes) {
  const struct {
    const char* name;
    std::function<void(serial::Device&, PtyPair&)> use;
  } cases[] = {
      {"drained", [](serial::Device& d, PtyPair&) { d.write("abc"), d.drain(); }},
      {"never written", [](serial::Device&, PtyPair&) {}},
      {"written, not drained", [](serial::Device& d, PtyPair&) { d.write("abc"); }},
      {"write timed out",
       [](serial::Device& d, PtyPair&) {
         EXPECT_THROW(for (int i = 0; i < 100; ++i) d.write(std::string(4096, 'x')), SerialError);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair line;
    serial::Settings settings;
    settings.writeTimeout = 100ms;
    settings.baud = 115200;
    {
      auto device = serial::openDeviceAt(line.slavePath(), settings);
      EXPECT_TRUE(exclusive(line.slave())) << "while held";
      c.use(*device, line);
    }
    EXPECT_FALSE(exclusive(line.slave())) << "after release";
  }
  // The program stopping at once, which never releases it.
  {
    PtyPair line;
    const auto device = serial::openDeviceAt(line.slavePath(), serial::Settings{});
    device->abandon();
    EXPECT_FALSE(exclusive(line.slave())) << "abandoned";
  }
  // Refused after exclusive mode was set: the line settings do not take.
  serial::Settings unusable;
  unusable.baud = 12345;
  EXPECT_THROW(serial::openDeviceAt(pty.slavePath(), unusable), SerialError);
  EXPECT_FALSE(exclusive(pty.slave())) << "after a refused open";
}

// Another program with the port open without exclusive mode, as a login console's getty has
// it: a shell that opens the pty as its stdin and becomes sleep.
class Holder {
 public:
  explicit Holder(const std::string& path) : pid_(fork()) {
    if (pid_ == 0) {
      ::close_range(3, ~0U, 0);  // none of the test's descriptors of the pty
      execl("/bin/sh", "sh", "-c", "exec sleep 30 <\"$0\"", path.c_str(), nullptr);
      _exit(127);
    }
  }
  ~Holder() { end(); }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  pid_t pid() const { return pid_; }

  // True once the shell has opened the port and become sleep.
  bool holding() const {
    const std::string comm = "/proc/" + std::to_string(pid_) + "/comm";
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(comm);
      std::string name;
      if (std::getline(in, name) && name == "sleep") return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  void end() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_;
};

TEST_F(PosixDevice, AProgramWithThePortOpenMakesItInUseByNameUntilItEnds) {
  termios before{};
  ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);
  Holder holder(pty.slavePath());
  ASSERT_GT(holder.pid(), 0);
  ASSERT_TRUE(holder.holding());

  serial::MSComm comm({}, openerFor(pty.slavePath()));
  const SerialError e = errorOf([&] { comm.setPortOpen(true); });
  EXPECT_EQ(e.code(), ErrorCode::InUse) << e.what();
  const std::string said = "COM1 (" + pty.slavePath() + "): open: in use by sleep (process " +
                           std::to_string(holder.pid()) + ").";
  EXPECT_NE(e.description().find(said), std::string::npos) << e.what();
  EXPECT_NE(e.description().find("serial-getty"), std::string::npos) << e.what();
  EXPECT_FALSE(comm.portOpen());
  EXPECT_EQ(pty.read(1, 100ms), "");
  termios after{};
  ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_FALSE(exclusive(pty.slave()));

  holder.end();
  receipt::runPrintTest(comm);
  EXPECT_EQ(toHex(pty.read(kReceiptBytes, 2s)), toHex(goldenJob()));
}

// Root gets past exclusive mode; a port another program holds that way is still not ours.
TEST_F(PosixDevice, APortHeldInExclusiveModeIsInUseAndKeepsItsSettings) {
  termios before{};
  ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);
  ASSERT_EQ(ioctl(pty.slave(), TIOCEXCL), 0);
  const SerialError e = errorOpening(pty.slavePath());
  EXPECT_EQ(e.code(), ErrorCode::InUse) << e.what();
  termios after{};
  ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_TRUE(exclusive(pty.slave())) << "the holder's exclusive mode was cleared";
  ASSERT_EQ(ioctl(pty.slave(), TIOCNXCL), 0);
  EXPECT_EQ(pty.read(1, 50ms), "");
}

// A pty frees room only when its reader has emptied most of its buffer: a reader that takes a
// byte a millisecond leaves gaps of seconds between accepted writes, though it never stops.
TEST_F(PosixDevice, ASlowReaderIsNotTakenForAPrinterThatStopped) {
  serial::Settings settings;
  settings.writeTimeout = 1s;
  auto device = serial::openDeviceAt(pty.slavePath(), settings);
  std::atomic<bool> done{false};
  std::size_t taken = 0;
  std::thread reader([&] {
    while (!done) {
      taken += pty.read(1, 5ms).size();
      std::this_thread::sleep_for(1ms);
    }
  });
  // Past what the pty holds, so that room must come back twice.
  const std::string bytes(24 * 1024, 'x');
  std::optional<SerialError> failure;
  try {
    device->write(bytes);
  } catch (const SerialError& e) {
    failure = e;
  }
  done = true;
  reader.join();
  EXPECT_FALSE(failure.has_value()) << failure->what() << " after " << taken << " bytes read";
}

TEST(ModemLines, RaisedAndDroppedAsSetAndOnlyAPtyMayRefuse) {
  const struct {
    const char* name;
    bool pty;
    int refuse;  // errno every ioctl fails with, or 0
    int expected;
  } cases[] = {
      {"real port takes them", false, 0, 0},
      {"real port refuses", false, EINVAL, EINVAL},
      {"real port without modem lines", false, ENOTTY, ENOTTY},
      {"pty refuses", true, ENOTTY, 0},
      {"pty refuses otherwise", true, EINVAL, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::pair<unsigned long, int>> calls;
    const int err =
        serial::internal::setModemLines({}, c.pty, [&](unsigned long request, int bits) {
          calls.emplace_back(request, bits);
          return c.refuse;
        });
    EXPECT_EQ(err, c.expected);
    ASSERT_GE(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::make_pair(static_cast<unsigned long>(TIOCMBIS), TIOCM_DTR));
    if (c.expected == 0) {
      ASSERT_EQ(calls.size(), 2u);
      EXPECT_EQ(calls[1], std::make_pair(static_cast<unsigned long>(TIOCMBIC), TIOCM_RTS));
    }
  }
}

// The program's own path for port 1, reached in a private /dev where a pty stands in for it.
TEST_F(PosixDevice, PortOneIsDevTtyS0) {
  EXPECT_EQ(serial::devicePath(1), "/dev/ttyS0");
  if (!tools::canMakePrivateDev()) GTEST_SKIP() << "no mount namespaces here";
  pty.parkSlave();  // or the child would find this process holding its port
  const std::string said = testing_support::inChild([&] {
    tools::enterPrivateDev(pty.slavePath());
    serial::MSComm comm;  // the real opener on the default path
    receipt::runPrintTest(comm);
    return std::string();
  });  // the control is gone: the queue has drained into the device
  ASSERT_EQ(said, "");
  EXPECT_EQ(toHex(pty.read(kReceiptBytes, 2s)), toHex(goldenJob()));
}

TEST_F(PosixDevice, WithoutADeviceAtPortOneTheErrorSaysNoSuchPort) {
  if (!tools::canMakePrivateDev()) GTEST_SKIP() << "no mount namespaces here";
  const std::string said = testing_support::inChild([] {
    tools::enterPrivateDev(std::nullopt);
    serial::MSComm comm;
    receipt::runPrintTest(comm);
    return std::string("opened");
  });
  EXPECT_NE(said.find("COM1 (/dev/ttyS0): open: No such file or directory"), std::string::npos)
      << said;
}

}  // namespace
