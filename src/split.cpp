// The routines behind split = TRUE: a follower (follower.h) started before a stream is
// rerouted into a file, handed the file once it is, and stopped when the stream is
// back. R holds it as an external pointer, whose finalizer stops a follower that R
// code lost without stopping it.

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "arguments.h"
#include "errors.h"
#include "files.h"
#include "follower.h"
#include "routines.h"

namespace {

// The file name that located errors carry.
constexpr char source_name[] = "split";

// The follower of an external pointer made by tarnwick_follow_start(), or null once
// stopped. Anything else is refused.
follow::follower* follower_of(SEXP pointer, const char* routine) {
  if (TYPEOF(pointer) != EXTPTRSXP || R_ExternalPtrTag(pointer) != Rf_install("follower"))
    RAISE_ERROR(routine, "Invalid follower: not one that tarnwick_follow_start() made");
  return static_cast<follow::follower*>(R_ExternalPtrAddr(pointer));
}

// Stops a follower that R code never stopped, without copying the rest: a finalizer
// must not wait for a reader.
void stop_lost_follower(SEXP pointer) {
  auto* f = static_cast<follow::follower*>(R_ExternalPtrAddr(pointer));
  if (f == nullptr) return;
  R_ClearExternalPtr(pointer);
  follow::stop(f, false);
}

}  // namespace

extern "C" {

// Starts a follower that copies to what the stream `fd` (1 or 2) refers to now, through
// a close-on-exec duplicate, so that no program started meanwhile holds it. Returns a
// fault, before anything changes, if the duplicate or the thread cannot be had.
SEXP tarnwick_follow_start(SEXP fd) {
  if (TYPEOF(fd) != INTSXP || XLENGTH(fd) != 1 ||
      (INTEGER(fd)[0] != 1 && INTEGER(fd)[0] != 2))
    RAISE_ERROR(__func__, "Invalid fd: not 1 or 2");
  const int target_fd = INTEGER(fd)[0];
  // The pointer first, so that a follower never exists without an owner.
  SEXP pointer = PROTECT(R_MakeExternalPtr(nullptr, Rf_install("follower"), R_NilValue));
  R_RegisterCFinalizerEx(pointer, stop_lost_follower, TRUE);
  const int out_fd = fcntl(target_fd, F_DUPFD_CLOEXEC, 0);
  if (out_fd == -1) {
    const int err = errno;
    UNPROTECT(1);
    return SYSTEM_FAULT(__func__, err, "Cannot copy %s", stream_names[target_fd]);
  }
  int err = 0;
  follow::follower* f = follow::start(out_fd, &err);
  if (f == nullptr) {
    close(out_fd);
    UNPROTECT(1);
    return SYSTEM_FAULT(__func__, err, "Cannot start the copy of %s",
                        stream_names[target_fd]);
  }
  R_SetExternalPtrAddr(pointer, f);
  UNPROTECT(1);
  return pointer;
}

// Hands the follower the file at `path`, which the stream now writes to, from its end
// on: what was there before the call is not copied. NULL, or a fault.
SEXP tarnwick_follow_file(SEXP pointer, SEXP path) {
  follow::follower* f = follower_of(pointer, __func__);
  const char* file = nullptr;
  if (f == nullptr || !read_string(path, &file))
    RAISE_ERROR(__func__, "Invalid arguments: a running follower and a path");
  const int file_fd = open(file, O_RDONLY | O_CLOEXEC);
  if (file_fd == -1) {
    const int err = errno;
    return SYSTEM_FAULT(__func__, err, "Cannot follow file `%s`", file);
  }
  if (lseek(file_fd, 0, SEEK_END) == -1) {
    const int err = errno;
    close(file_fd);
    return SYSTEM_FAULT(__func__, err, "Cannot follow file `%s`", file);
  }
  if (!follow::follow_file(f, file_fd)) {
    close(file_fd);
    RAISE_ERROR(__func__, "Invalid follower: it follows a file already");
  }
  return R_NilValue;
}

// Stops the follower once it has copied everything the file holds; a stopped one is
// left as it is. Returns the errno that ended the copy early, or 0, with the system's
// words for it as the attribute "strerror".
SEXP tarnwick_follow_stop(SEXP pointer) {
  follow::follower* f = follower_of(pointer, __func__);
  int err = 0;
  if (f != nullptr) {
    R_ClearExternalPtr(pointer);
    err = follow::stop(f, true);
  }
  SEXP out = PROTECT(Rf_ScalarInteger(err));
  Rf_setAttrib(out, Rf_install("strerror"), Rf_mkString(std::strerror(err)));
  UNPROTECT(1);
  return out;
}

}  // extern "C"
