// Descriptor routines of the package's own library: a file opened for appending, for
// the stream routines to take as they take any descriptor, and the close that undoes
// it when they cannot.
// Logs may grow past 2 GiB: 32-bit glibc appends past it only with 64-bit offsets.
#define _FILE_OFFSET_BITS 64

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "base64_glue.h"
#include "errors.h"
#include "routines.h"

namespace {

// The file name that located errors carry.
constexpr char source_name[] = "descriptors";

// Every write lands at the file's end, also when other processes append to it at the
// same time; the descriptor lives until a stream takes it, and no program started
// meanwhile may inherit it.
constexpr int append_flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
constexpr mode_t new_file_mode = 0644;

}  // namespace

extern "C" {

// Opens the path for appending, creating it with mode 0644 as the umask allows.
// Returns the descriptor. Not retried: open() is interrupted only on slow devices, and
// then the error is reported.
SEXP tarnwick_open_append(SEXP path) {
  const char* file = nullptr;
  if (!read_string(path, &file)) RAISE_ERROR(__func__, "Invalid path: not a string");
  const int fd = open(file, append_flags, new_file_mode);
  if (fd == -1) {
    const int err = errno;
    RAISE_SYSTEM_ERROR(__func__, err, "Cannot open file `%s` for appending", file);
  }
  return Rf_ScalarInteger(fd);
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

}  // extern "C"
