// Descriptor routines of the package's own library: a file opened for appending, for
// the stream routines to take as they take any descriptor, and the close that undoes
// it when they cannot; connections onto a descriptor, and the writes behind them.

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <R_ext/Utils.h>

#include "arguments.h"
#include "errors.h"
#include "fd_connection.h"
#include "files.h"
#include "routines.h"
#include "streams.h"

namespace {

// The file name that located errors carry.
constexpr char source_name[] = "descriptors";

// Every write lands at the file's end, also when other processes append to it at the
// same time; the descriptor lives until a stream takes it, and no program started
// meanwhile may inherit it.
constexpr int append_flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;

// One write() with SIGPIPE held, so that a pipe whose reader has gone fails with EPIPE
// rather than reach R's handler, which would raise from inside the signal. The signal
// the write raised is taken back, unless one was pending already. Returns the count
// written, or -errno.
ssize_t write_holding_sigpipe(int fd, const std::uint8_t* data, std::size_t n) {
  sigset_t pipe_only;
  sigset_t old_mask;
  sigset_t pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old_mask);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  const ssize_t written = write(fd, data, n);
  const int err = written == -1 ? errno : 0;
  if (err == EPIPE && !was_pending) {
    int taken = 0;
    sigwait(&pipe_only, &taken);
  }
  pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  return written == -1 ? -err : written;
}

// How long a wait for a descriptor to take data lasts before R's interrupts are
// checked, in milliseconds.
constexpr int interrupt_check_ms = 100;

// Waits until fd can take data, or for an interrupt, which R then acts on.
void wait_writable(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  if (poll(&entry, 1, interrupt_check_ms) != 1) R_CheckUserInterrupt();
}

}  // namespace

extern "C" {

// Opens the path for appending, creating it with mode 0644 as the umask allows.
// Returns the descriptor, or a fault. The result is allocated first, so that no
// descriptor is left open if memory runs out. Not retried: open() is interrupted only
// on slow devices, and then the error is reported.
SEXP tarnwick_open_append(SEXP path) {
  const char* file = nullptr;
  if (!read_string(path, &file)) RAISE_ERROR(__func__, "Invalid path: not a string");
  SEXP out = PROTECT(Rf_allocVector(INTSXP, 1));
  const int fd = open(file, append_flags, stream_file_mode);
  if (fd == -1) {
    const int err = errno;
    UNPROTECT(1);
    return SYSTEM_FAULT(__func__, err, "Cannot open file `%s` for appending", file);
  }
  INTEGER(out)[0] = fd;
  UNPROTECT(1);
  return out;
}

// Reroutes the stream `target` (1 or 2) to the descriptor `fd`, consuming it, as
// tarnwick_set_stdout() does: returns a duplicate of the earlier stream when `keep`,
// else NULL, or a fault.
SEXP tarnwick_reroute(SEXP target, SEXP fd, SEXP keep) {
  int target_fd = 0;
  int replacement_fd = 0;
  bool keeps = false;
  if (!read_int(target, &target_fd) || (target_fd != 1 && target_fd != 2) ||
      !read_int(fd, &replacement_fd) || !read_flag(keep, &keeps)) {
    RAISE_ERROR(__func__, "Invalid arguments: not in the form that R's functions give");
  }
  SEXP saved = PROTECT(keeps ? Rf_allocVector(INTSXP, 1) : R_NilValue);
  const stream_failure failure =
      tarnwick_set_std(target_fd, replacement_fd, saved, false);
  UNPROTECT(1);
  return failure.err == 0 ? saved : stream_failure_fault(target_fd, failure);
}

// Reroutes the stream `target` (1 or 2) to the file at `path`, created or emptied, as
// tarnwick_set_stdout_to_file() does, and with its messages: returns a duplicate of the
// earlier stream, or a fault.
SEXP tarnwick_reroute_to_file(SEXP target, SEXP path) {
  int target_fd = 0;
  const char* file = nullptr;
  if (!read_int(target, &target_fd) || (target_fd != 1 && target_fd != 2) ||
      !read_string(path, &file)) {
    RAISE_ERROR(__func__, "Invalid arguments: not in the form that R's functions give");
  }
  const char* routine =
      target_fd == 1 ? "tarnwick_set_stdout_to_file" : "tarnwick_set_stderr_to_file";
  SEXP saved = PROTECT(Rf_allocVector(INTSXP, 1));
  const stream_failure failure = set_stream_to_file(target_fd, file, saved, routine);
  UNPROTECT(1);
  return failure.err == 0 ? saved : stream_failure_fault(target_fd, failure);
}

// Closes a descriptor that tarnwick_open_append() returned and no stream took. Not
// retried, and its result is not looked at: on Linux, close() frees the descriptor
// even when it fails, and nothing was written through it.
SEXP tarnwick_close(SEXP fd) {
  if (TYPEOF(fd) != INTSXP || XLENGTH(fd) != 1 || INTEGER(fd)[0] < 0)
    RAISE_ERROR(__func__, "Invalid fd: not a descriptor");
  close(INTEGER(fd)[0]);
  return R_NilValue;
}

int can_raise_sigpipe(int fd) {
  struct stat status;
  return fstat(fd, &status) != 0 || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode);
}

int write_all_to_fd(int fd, const void* data, std::size_t n, int hold_sigpipe) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (n > 0) {
    ssize_t written = 0;
    if (hold_sigpipe) {
      written = write_holding_sigpipe(fd, bytes, n);
    } else {
      written = write(fd, bytes, n);
      if (written == -1) written = -errno;
    }
    if (written >= 0) {
      bytes += written;
      n -= static_cast<std::size_t>(written);
    } else if (written == -EAGAIN || written == -EWOULDBLOCK) {
      wait_writable(fd);
    } else if (written != -EINTR) {
      return static_cast<int>(-written);
    }
  }
  return 0;
}

void raise_fd_write_error(int fd, int err) {
  RAISE_SYSTEM_ERROR(__func__, err, "Cannot write to fd %d", fd);
}

// A connection onto a descriptor the caller holds, which must be open for writing.
SEXP tarnwick_fd_connection(SEXP fd) {
  if (TYPEOF(fd) != INTSXP || XLENGTH(fd) != 1 || INTEGER(fd)[0] < 0)
    RAISE_ERROR(__func__, "Invalid fd: not a descriptor");
  const int out_fd = INTEGER(fd)[0];
  const int flags = fcntl(out_fd, F_GETFL);
  const int err = flags == -1 ? errno : (flags & O_ACCMODE) == O_RDONLY ? EBADF : 0;
  if (err != 0) {
    return SYSTEM_FAULT(__func__, err, "Cannot make a connection onto fd %d", out_fd);
  }
  char description[32];
  std::snprintf(description, sizeof description, "fd %d", out_fd);
  return new_fd_connection(out_fd, description);
}

}  // extern "C"
