// The rerouting of descriptors 1 and 2 (client.cpp), shared by client.so's routines,
// which raise what fails, and the package's own, which hand it to R as a fault.
#ifndef CLIENT_STREAMS_H
#define CLIENT_STREAMS_H

#define R_NO_REMAP
#include <Rinternals.h>

// A step of a rerouting that failed: the errno value (0 when nothing failed), the
// function and line that report it, and the file that could not be opened, or null
// when the stream itself could not be rerouted.
struct stream_failure {
  int err;
  const char* func;
  int line;
  const char* file;
};

// Makes target_fd refer to what replacement_fd refers to, then closes replacement_fd
// unless it is the target itself. `saved` is R_NilValue to let the earlier stream go,
// or an integer scalar, allocated by the caller before it acquired any descriptor, that
// receives a close-on-exec duplicate of it. On failure the target is unchanged, and
// the duplicate and, when owns_replacement, the replacement are closed. A replacement
// that is not open fails with EBADF. Nothing is retried.
stream_failure tarnwick_set_std(int target_fd, int replacement_fd, SEXP saved,
                                bool owns_replacement);

// Opens `file` (created with mode 0644 as the umask allows, or emptied) and makes
// target_fd refer to it, with a duplicate of the earlier stream in `saved`; `routine`
// names the step that opens it. A closed target is refused before the file is touched.
stream_failure set_stream_to_file(int target_fd, const char* file, SEXP saved,
                                  const char* routine);

// The error of a failure on the stream target_fd, raised, or handed over as a fault
// (see message_fault() in errors.h); the text is the same.
[[noreturn]] void raise_stream_failure(int target_fd, const stream_failure& failure);
SEXP stream_failure_fault(int target_fd, const stream_failure& failure);

#endif  // CLIENT_STREAMS_H
