# Rerouting standard output and standard error (descriptors 1 and 2): by hand with
# set_*(), or for the duration of an expression with with_*().

# The R connection that writes to a standard descriptor: its buffer must be flushed
# before the descriptor changes, so that earlier output lands where it was written.
std_connection <- function(target) if (target == 1L) stdout() else stderr()

# The routine that points descriptor `target` (1 or 2) at another descriptor.
std_routine <- function(target) {
  if (target == 1L) tarnwick_set_stdout else tarnwick_set_stderr
}

# Points descriptor `target` at descriptor `fd` and closes `fd`. Returns NULL when
# `drop`, else a fresh duplicate of the stream that was in place.
set_std <- function(target, fd, drop) {
  flush(std_connection(target))
  .Call(std_routine(target), fd, drop)
}

# set_std() for a descriptor the user names. The other standard stream is not the
# user's to give away: for set_stdout(2), like the shell's 1>&2, the routine consumes
# a duplicate of descriptor 2, so that standard error stays open. If the switch fails,
# the duplicate goes back onto its own stream, which closes it, needs no free
# descriptor and leaves that stream referring to what it referred to.
set_std_to_fd <- function(target, fd, drop) {
  other <- 3L - target
  if (fd != other) return(set_std(target, fd, drop))
  # Rerouting a stream to itself leaves it open and returns a duplicate.
  copy <- .Call(std_routine(other), other, FALSE)
  tryCatch(set_std(target, copy, drop), error = function(e) {
    .Call(std_routine(other), copy, TRUE)
    stop(e)
  })
}

# Points descriptor `target` at the file `path`, created or emptied. Returns a fresh
# duplicate of the stream that was in place.
set_std_file <- function(target, path) {
  flush(std_connection(target))
  routine <- if (target == 1L) tarnwick_set_stdout_to_file else tarnwick_set_stderr_to_file
  .Call(routine, path)
}

# Puts back the stream that `saved` holds, unless the switch never happened (NULL). Runs
# with interrupts held, like the switch in with_*(), so that an interrupt can fall
# neither between a switch and the on.exit() record that undoes it, nor in the undoing.
# The with_*() functions evaluate `code` in their own frame, so that an error raised by
# it names the call the user wrote.
restore_std <- function(target, saved) {
  if (!is.null(saved)) suspendInterrupts(set_std(target, saved, TRUE))
}

set_stdout <- function(fd, drop = TRUE) {
  fd <- as_fd(fd)
  drop <- as_flag(drop)
  invisible(set_std_to_fd(1L, fd, drop))
}

set_stderr <- function(fd, drop = TRUE) {
  fd <- as_fd(fd)
  drop <- as_flag(drop)
  invisible(set_std_to_fd(2L, fd, drop))
}

set_stdout_file <- function(path) {
  path <- as_path(path)
  invisible(set_std_file(1L, path))
}

set_stderr_file <- function(path) {
  path <- as_path(path)
  invisible(set_std_file(2L, path))
}

with_stdout <- function(fd, code) {
  fd <- as_fd(fd)
  saved <- NULL
  on.exit(restore_std(1L, saved))
  suspendInterrupts(saved <- set_std_to_fd(1L, fd, FALSE))
  code
}

with_stderr <- function(fd, code) {
  fd <- as_fd(fd)
  saved <- NULL
  on.exit(restore_std(2L, saved))
  suspendInterrupts(saved <- set_std_to_fd(2L, fd, FALSE))
  code
}

with_stdout_file <- function(path, code) {
  path <- as_path(path)
  saved <- NULL
  on.exit(restore_std(1L, saved))
  suspendInterrupts(saved <- set_std_file(1L, path))
  code
}

with_stderr_file <- function(path, code) {
  path <- as_path(path)
  saved <- NULL
  on.exit(restore_std(2L, saved))
  suspendInterrupts(saved <- set_std_file(2L, path))
  code
}
