// The routines that act on the process's descriptors.

#include <cerrno>
#include <climits>
#include <cstddef>

#include <fcntl.h>
#include <unistd.h>

#include "errors.h"
#include "files.h"
#include "routines.h"
#include "streams.h"

namespace {

// The file name that located errors carry.
constexpr char source_name[] = "client";

// Element 0 of an integer argument. R's accessor refuses other types; an empty vector
// has no element 0 and is refused here.
int first_int(SEXP x, const char* routine, const char* what) {
  const int* values = INTEGER(x);
  if (XLENGTH(x) < 1)
    RAISE_ERROR(routine, "Invalid %s: zero-length integer vector", what);
  return values[0];
}

// Element 0 of a logical argument as a flag: any non-zero value, NA included, is true.
bool first_flag(SEXP x, const char* routine) {
  const int* values = LOGICAL(x);
  if (XLENGTH(x) < 1)
    RAISE_ERROR(routine, "Invalid drop flag: zero-length logical vector");
  return values[0] != 0;
}

// Element 0 of a character argument, in R's own encoding, without conversion. An empty
// vector is refused, and so is NA rather than opened as a file named "NA".
const char* first_path(SEXP x, const char* routine) {
  if (TYPEOF(x) == STRSXP && XLENGTH(x) < 1) {
    RAISE_ERROR(routine, "Invalid path: zero-length character vector");
  }
  SEXP element = STRING_ELT(x, 0);
  if (element == NA_STRING) RAISE_ERROR(routine, "Invalid path: NA");
  return R_CHAR(element);
}

// A failure reported from this line of `func`.
#define FAILED(func, err) (stream_failure{(err), (func), __LINE__, nullptr})

// Formats the message of a failure into the error buffer: the file that could not be
// opened, or the stream that could not be rerouted.
error_site format_failure(int target_fd, const stream_failure& failure) {
  if (failure.file != nullptr) {
    print_message("Cannot open new %s file `%s`", stream_names[target_fd], failure.file);
  } else {
    print_message("Cannot reroute %s", stream_names[target_fd]);
  }
  return error_site{failure.func, source_name, failure.line, true, failure.err};
}

// A routine for a descriptor that R code holds: the drop flag says whether a duplicate
// of the earlier stream is kept and returned.
SEXP set_stream(int target_fd, SEXP fd, SEXP drop, const char* routine) {
  const int replacement_fd = first_int(fd, routine, "fd");
  SEXP saved = first_flag(drop, routine) ? R_NilValue : Rf_allocVector(INTSXP, 1);
  PROTECT(saved);
  const stream_failure failure =
      tarnwick_set_std(target_fd, replacement_fd, saved, false);
  if (failure.err != 0) raise_stream_failure(target_fd, failure);
  UNPROTECT(1);
  return saved;
}

// The file's own descriptor lives only until it is duplicated onto the target, and no
// program started meanwhile may inherit it.
constexpr int new_file_flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;

// A routine for a file: makes the target refer to it and returns a duplicate of the
// earlier stream.
SEXP set_stream_file(int target_fd, SEXP path, const char* routine) {
  const char* file = first_path(path, routine);
  SEXP saved = PROTECT(Rf_allocVector(INTSXP, 1));
  const stream_failure failure = set_stream_to_file(target_fd, file, saved, routine);
  if (failure.err != 0) raise_stream_failure(target_fd, failure);
  UNPROTECT(1);
  return saved;
}

// Sets FD_CLOEXEC on fd and keeps its other descriptor flags. Returns 0 when the flag
// is set on return, else -errno. Retries EINTR; skips the write when already set.
int tarnwick_cloexec_fcntl(int fd) {
  int flags;
  do {
    flags = fcntl(fd, F_GETFD);
  } while (flags == -1 && errno == EINTR);
  if (flags == -1) return -errno;
  if (flags & FD_CLOEXEC) return 0;
  int rc;
  do {
    rc = fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
  } while (rc == -1 && errno == EINTR);
  return rc == 0 ? 0 : -errno;
}

// Descriptors below this are all tried; from here on the first failure ends the sweep.
constexpr int always_swept = 16;

// A count that fits an R integer on every system; Linux writes at most about 2 GiB per
// call anyway.
constexpr std::size_t max_write = INT_MAX;

}  // namespace

stream_failure tarnwick_set_std(int target_fd, int replacement_fd, SEXP saved,
                                bool owns_replacement) {
  int saved_fd = -1;
  if (saved != R_NilValue) {
    // Close-on-exec from the start: a program started while the stream is rerouted
    // must not hold the earlier stream (a parent's pipe, say) open.
    saved_fd = fcntl(target_fd, F_DUPFD_CLOEXEC, 0);
    if (saved_fd == -1) {
      const int err = errno;
      if (owns_replacement) close(replacement_fd);
      return FAILED(__func__, err);
    }
    // The lowest free number was taken: the replacement's own means it is not open,
    // and dup2() would copy the duplicate onto the target instead of failing.
    if (saved_fd == replacement_fd) {
      close(saved_fd);
      return FAILED(__func__, EBADF);
    }
    INTEGER(saved)[0] = saved_fd;
  }
  if (dup2(replacement_fd, target_fd) == -1) {
    const int err = errno;
    if (saved_fd != -1) close(saved_fd);
    if (owns_replacement) close(replacement_fd);
    return FAILED(__func__, err);
  }
  // Unchecked: the target refers to the replacement already, which is what counts.
  if (replacement_fd != target_fd) close(replacement_fd);
  return stream_failure{0, nullptr, 0, nullptr};
}

// A closed target is refused before the file is touched: open() would hand out the
// target's own number, and there would be no earlier stream to save. open() is not
// retried: it is interrupted only on slow devices, and then the error is reported.
stream_failure set_stream_to_file(int target_fd, const char* file, SEXP saved,
                                  const char* routine) {
  if (fcntl(target_fd, F_GETFD) == -1) return FAILED(routine, errno);
  const int file_fd = open(file, new_file_flags, stream_file_mode);
  if (file_fd == -1) {
    stream_failure failure = FAILED(routine, errno);
    failure.file = file;
    return failure;
  }
  return tarnwick_set_std(target_fd, file_fd, saved, true);
}

void raise_stream_failure(int target_fd, const stream_failure& failure) {
  raise_message(format_failure(target_fd, failure), nullptr);
}

SEXP stream_failure_fault(int target_fd, const stream_failure& failure) {
  return message_fault(format_failure(target_fd, failure), nullptr);
}

extern "C" {

SEXP tarnwick_set_stdout(SEXP fd, SEXP drop) {
  return set_stream(STDOUT_FILENO, fd, drop, __func__);
}

SEXP tarnwick_set_stderr(SEXP fd, SEXP drop) {
  return set_stream(STDERR_FILENO, fd, drop, __func__);
}

SEXP tarnwick_set_stdout_to_file(SEXP path) {
  return set_stream_file(STDOUT_FILENO, path, __func__);
}

SEXP tarnwick_set_stderr_to_file(SEXP path) {
  return set_stream_file(STDERR_FILENO, path, __func__);
}

// One write(), never retried nor continued: a short count is the caller's to act on,
// an interrupted write is reported, and a descriptor that would block takes 0 bytes.
SEXP tarnwick_write(SEXP fd, SEXP data) {
  const int out_fd = first_int(fd, __func__, "fd");
  const Rbyte* bytes = RAW(data);
  std::size_t size = static_cast<std::size_t>(XLENGTH(data));
  if (size > max_write) size = max_write;
  const ssize_t written = write(out_fd, bytes, size);
  if (written == -1) {
    const int err = errno;
    if (err != EAGAIN && err != EWOULDBLOCK) {
      RAISE_SYSTEM_ERROR(__func__, err, "Cannot write to fd");
    }
    return Rf_ScalarInteger(0);
  }
  return Rf_ScalarInteger(static_cast<int>(written));
}

SEXP tarnwick_disable_inheritance() {
  for (int fd = 0;; ++fd) {
    if (tarnwick_cloexec_fcntl(fd) != 0 && fd >= always_swept) break;
  }
  return R_NilValue;
}

}  // extern "C"
