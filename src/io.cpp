// The writes of io.h.
#include "io.h"

#include <cerrno>
#include <cstdint>

#include <poll.h>
#include <unistd.h>

int write_all(int fd, const void* data, std::size_t n, std::size_t* done) noexcept {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (*done = 0; *done < n;) {
    const ssize_t written = write(fd, bytes + *done, n - *done);
    if (written >= 0) {
      *done += static_cast<std::size_t>(written);
      continue;
    }
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
      pollfd entry{fd, POLLOUT, 0};
      poll(&entry, 1, -1);
    } else if (err != EINTR) {
      return err;
    }
  }
  return 0;
}
