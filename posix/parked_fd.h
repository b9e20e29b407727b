#pragma once

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "posix/unique_fd.h"

namespace posix {

// Keeps a file open with no descriptor of it in this process, so that /proc/PID/fd does not
// show it.
class ParkedFd {
 public:
  ParkedFd() = default;
  // Takes `fd` over; throws std::system_error when it cannot be parked.
  explicit ParkedFd(UniqueFd fd) {
    // The descriptor is sent into a socket of our own and left there, unreceived.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends) != 0) fail("socketpair");
    const UniqueFd sender(ends[0]);
    queue_ = UniqueFd(ends[1]);
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    const int held = fd.get();
    std::memcpy(CMSG_DATA(header), &held, sizeof held);
    if (::sendmsg(sender.get(), &message, MSG_NOSIGNAL) != 1) fail("sendmsg");
    // The message waits in queue_ after the sender is closed, and the file with it.
  }

  explicit operator bool() const { return static_cast<bool>(queue_); }

 private:
  [[noreturn]] static void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
  }

  UniqueFd queue_;  // closing it releases the file
};

}  // namespace posix
