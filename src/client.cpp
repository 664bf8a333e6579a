// Host entry, routine table, and the routines that act on the process's descriptors.
// A rerouted stream may grow past 2 GiB: 32-bit glibc opens files with O_LARGEFILE
// only when file offsets are 64 bits wide (bionic and 64-bit systems always do).
#define _FILE_OFFSET_BITS 64

#include <cerrno>
#include <climits>
#include <cstddef>

#include <fcntl.h>
#include <unistd.h>

#define R_NO_REMAP
#include <R_ext/Rdynload.h>
#include <R_ext/Visibility.h>
#include <Rinternals.h>

#include "errors.h"

extern "C" {
attribute_visible SEXP tarnwick_set_stdout(SEXP fd, SEXP drop);
attribute_visible SEXP tarnwick_set_stderr(SEXP fd, SEXP drop);
attribute_visible SEXP tarnwick_set_stdout_to_file(SEXP path);
attribute_visible SEXP tarnwick_set_stderr_to_file(SEXP path);
attribute_visible SEXP tarnwick_write(SEXP fd, SEXP data);
attribute_visible SEXP tarnwick_disable_inheritance();
attribute_visible SEXP tarnwick_base64_encode(SEXP data);
attribute_visible SEXP tarnwick_base64_decode(SEXP text);
attribute_visible void R_init_client(DllInfo* dll);
}

#define RAISE_ERRNO(err, ...) \
  r_throw_system_error(__func__, "client", __LINE__, (err), nullptr, __VA_ARGS__)

namespace {

const char* const stream_names[] = {"stdin", "stdout", "stderr"};

// Element 0 of an integer argument. R's accessor refuses other types; an empty
// vector is refused here, since it has no element 0 to read.
int first_int(SEXP x, const char* routine, const char* what) {
  const int* values = INTEGER(x);
  if (XLENGTH(x) < 1) {
    r_throw_error(routine, "client", __LINE__, "Invalid %s: zero-length integer vector",
                  what);
  }
  return values[0];
}

// Element 0 of a logical argument as a flag: any non-zero value, NA included, is true.
bool first_flag(SEXP x, const char* routine) {
  const int* values = LOGICAL(x);
  if (XLENGTH(x) < 1) {
    r_throw_error(routine, "client", __LINE__,
                  "Invalid drop flag: zero-length logical vector");
  }
  return values[0] != 0;
}

// Element 0 of a character argument, in the host's own encoding, without conversion.
// STRING_ELT refuses other types; an empty vector is refused here first, and NA is
// refused rather than opened as a file named "NA".
const char* first_path(SEXP x, const char* routine) {
  if (TYPEOF(x) == STRSXP && XLENGTH(x) < 1) {
    r_throw_error(routine, "client", __LINE__,
                  "Invalid path: zero-length character vector");
  }
  SEXP element = STRING_ELT(x, 0);
  if (element == NA_STRING)
    r_throw_error(routine, "client", __LINE__, "Invalid path: NA");
  return R_CHAR(element);
}

// Makes target_fd refer to what replacement_fd refers to, then closes replacement_fd
// unless it is the target itself (closing it then would leave the target closed).
// `saved` is R_NilValue to let the previous stream go, or an integer scalar that
// receives a fresh duplicate of it; callers allocate it before they acquire any
// descriptor, so a failed allocation cannot leak one. Returns `saved`.
// The duplicate is close-on-exec: it is there to put the stream back, and a program
// that inherited it would hold the previous stream open (a parent's pipe, say) while
// the target is rerouted. dup2() leaves the target inheritable, whatever the flags of
// the replacement.
// On failure raises with the target unchanged, after closing the duplicate it made and,
// when owns_replacement says the caller opened it, the replacement. A replacement that
// is not open raises EBADF.
SEXP tarnwick_set_std(int target_fd, int replacement_fd, SEXP saved,
                      bool owns_replacement) {
  int saved_fd = -1;
  if (saved != R_NilValue) {
    // Like dup(), with the flag set at once: no program started in between (by another
    // thread, say) can inherit it.
    saved_fd = fcntl(target_fd, F_DUPFD_CLOEXEC, 0);
    if (saved_fd == -1) {
      const int err = errno;
      if (owns_replacement) close(replacement_fd);
      RAISE_ERRNO(err, "Cannot reroute %s", stream_names[target_fd]);
    }
    // The lowest free number was taken: getting the replacement's own means it was
    // not open, and dup2() would then copy the duplicate onto the target and report a
    // reroute that never happened. Refused as dup2() refuses a closed descriptor.
    if (saved_fd == replacement_fd) {
      close(saved_fd);
      RAISE_ERRNO(EBADF, "Cannot reroute %s", stream_names[target_fd]);
    }
    INTEGER(saved)[0] = saved_fd;
  }
  if (dup2(replacement_fd, target_fd) == -1) {
    const int err = errno;
    if (saved_fd != -1) close(saved_fd);
    if (owns_replacement) close(replacement_fd);
    RAISE_ERRNO(err, "Cannot reroute %s", stream_names[target_fd]);
  }
  // Not checked: the target already refers to the replacement, which is what counts.
  if (replacement_fd != target_fd) close(replacement_fd);
  return saved;
}

// The routines for a descriptor that R code holds: the drop flag decides whether a
// duplicate of the previous stream is kept and returned.
SEXP set_stream(int target_fd, SEXP fd, SEXP drop, const char* routine) {
  const int replacement_fd = first_int(fd, routine, "fd");
  if (first_flag(drop, routine)) {
    return tarnwick_set_std(target_fd, replacement_fd, R_NilValue, false);
  }
  SEXP saved = PROTECT(Rf_allocVector(INTSXP, 1));
  tarnwick_set_std(target_fd, replacement_fd, saved, false);
  UNPROTECT(1);
  return saved;
}

// The file's own descriptor lives only until it has been duplicated onto the target,
// and no program started meanwhile should inherit it.
constexpr int new_file_flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
constexpr mode_t new_file_mode = 0644;

// The routines for a file: open the path (created with mode 0644 as the umask allows,
// or emptied), make the target refer to it and return a duplicate of the previous
// stream. The file's own descriptor is consumed, or closed when the switch fails.
// A closed target is refused before the file is touched, as the routines for a
// descriptor refuse it: open() would hand out the target's own number, and there
// would be no earlier stream to save and put back.
SEXP set_stream_to_file(int target_fd, SEXP path, const char* routine) {
  const char* file = first_path(path, routine);
  SEXP saved = PROTECT(Rf_allocVector(INTSXP, 1));
  if (fcntl(target_fd, F_GETFD) == -1) {
    const int err = errno;
    r_throw_system_error(routine, "client", __LINE__, err, nullptr, "Cannot reroute %s",
                         stream_names[target_fd]);
  }
  const int file_fd = open(file, new_file_flags, new_file_mode);
  if (file_fd == -1) {
    const int err = errno;
    r_throw_system_error(routine, "client", __LINE__, err, nullptr,
                         "Cannot open new %s file `%s`", stream_names[target_fd], file);
  }
  tarnwick_set_std(target_fd, file_fd, saved, true);
  UNPROTECT(1);
  return saved;
}

// Sets FD_CLOEXEC on fd, keeping its other descriptor flags. Returns 0 when the flag
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

// Linux writes at most about 2 GiB per call anyway; capping the request keeps the
// count within an R integer on every system.
constexpr std::size_t max_write = INT_MAX;

}  // namespace

extern "C" {

SEXP tarnwick_set_stdout(SEXP fd, SEXP drop) {
  return set_stream(STDOUT_FILENO, fd, drop, __func__);
}

SEXP tarnwick_set_stderr(SEXP fd, SEXP drop) {
  return set_stream(STDERR_FILENO, fd, drop, __func__);
}

SEXP tarnwick_set_stdout_to_file(SEXP path) {
  return set_stream_to_file(STDOUT_FILENO, path, __func__);
}

SEXP tarnwick_set_stderr_to_file(SEXP path) {
  return set_stream_to_file(STDERR_FILENO, path, __func__);
}

SEXP tarnwick_write(SEXP fd, SEXP data) {
  const int out_fd = first_int(fd, __func__, "fd");
  const Rbyte* bytes = RAW(data);
  std::size_t size = static_cast<std::size_t>(XLENGTH(data));
  if (size > max_write) size = max_write;
  const ssize_t written = write(out_fd, bytes, size);
  if (written == -1) {
    const int err = errno;
    if (err != EAGAIN && err != EWOULDBLOCK) RAISE_ERRNO(err, "Cannot write to fd");
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

namespace {
// clang-format off
// Cast through void (*)() for -Wcast-function-type; a helper function would run at load.
#define CALL_ENTRY(fn, n) \
  { #fn, reinterpret_cast<DL_FUNC>(reinterpret_cast<void (*)()>(&fn)), n }
const R_CallMethodDef call_entries[] = {
    CALL_ENTRY(tarnwick_base64_encode, 1),
    CALL_ENTRY(tarnwick_base64_decode, 1),
    CALL_ENTRY(tarnwick_disable_inheritance, 0),
    CALL_ENTRY(tarnwick_write, 2),
    CALL_ENTRY(tarnwick_set_stdout, 2),
    CALL_ENTRY(tarnwick_set_stderr, 2),
    CALL_ENTRY(tarnwick_set_stdout_to_file, 1),
    CALL_ENTRY(tarnwick_set_stderr_to_file, 1),
    {nullptr, nullptr, 0},
};
#undef CALL_ENTRY
// clang-format on
}  // namespace

extern "C" void R_init_client(DllInfo* dll) {
  R_registerRoutines(dll, nullptr, call_entries, nullptr, nullptr);
  R_useDynamicSymbols(dll, FALSE);
  R_forceSymbols(dll, TRUE);
}
