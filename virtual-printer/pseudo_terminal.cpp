#include "virtual-printer/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include "virtual-printer/os_error.h"

namespace vprinter {

PseudoTerminal::PseudoTerminal() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  if (!master_) throw osError("open pseudo-terminal (posix_openpt)");
  if (grantpt(master_.get()) != 0) throw osError("grantpt");
  if (unlockpt(master_.get()) != 0) throw osError("unlockpt");
  char name[128];
  if (const int err = ptsname_r(master_.get(), name, sizeof name); err != 0) {
    throw osError("ptsname_r", err);
  }
  slavePath_ = name;

  posix::UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave) throw osError("open " + slavePath_);
  termios tio{};
  if (tcgetattr(slave.get(), &tio) != 0) throw osError("tcgetattr " + slavePath_);
  // Raw, so a line feed arrives as one byte and not as CR LF.
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CREAD | CLOCAL;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, B9600) != 0 || cfsetospeed(&tio, B9600) != 0) {
    throw osError("set 9600 baud on " + slavePath_);
  }
  if (tcsetattr(slave.get(), TCSANOW, &tio) != 0) throw osError("tcsetattr " + slavePath_);
  slave_ = posix::ParkedFd(std::move(slave));

  const int flags = fcntl(master_.get(), F_GETFL);
  if (flags < 0 || fcntl(master_.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    throw osError("make pseudo-terminal master non-blocking");
  }
}

}  // namespace vprinter
