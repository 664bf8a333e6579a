# Rerouting standard output and standard error (descriptors 1 and 2): by hand with
# set_*(), or for the duration of an expression with with_*().
#
# Every step takes `call`, the call of the exported function, and raises its errors
# naming it: the user sees the call they wrote, not the internal function that failed.

# Evaluates `step`; an error it raises is raised again naming `call`.
in_call <- function(call, step) {
  tryCatch(step, error = function(e) {
    e$call <- call
    stop(e)
  })
}

# Flushes R's buffer for descriptor `target` (1 or 2), so that output written before a
# switch lands where it was written. For stdout that also sends out what C code left in
# stdio's buffer.
flush_std <- function(target) flush(if (target == 1L) stdout() else stderr())

# Points descriptor `target` at descriptor `fd`, consuming it, without flushing. Returns
# NULL when `drop`, else a fresh duplicate of the stream that was in place.
switch_std <- function(target, fd, drop, call) {
  in_call(call, if (target == 1L) {
    .Call(tarnwick_set_stdout, fd, drop)
  } else {
    .Call(tarnwick_set_stderr, fd, drop)
  })
}

# Flushes, then switches. A failed flush raises before anything changes.
set_std <- function(target, fd, drop, call) {
  in_call(call, flush_std(target))
  switch_std(target, fd, drop, call)
}

# set_std() for a descriptor the user names. The other standard stream is not the
# user's to give away: for set_stdout(2), like the shell's 1>&2, the routine consumes
# a duplicate of descriptor 2, so that standard error stays open. If the switch fails,
# the duplicate goes back onto its own stream, which closes it, needs no free
# descriptor and leaves that stream referring to what it referred to.
set_std_to_fd <- function(target, fd, drop, call) {
  other <- 3L - target
  if (fd != other) return(set_std(target, fd, drop, call))
  # Rerouting a stream to itself leaves it open and returns a duplicate.
  copy <- switch_std(other, other, FALSE, call)
  tryCatch(set_std(target, copy, drop, call), error = function(e) {
    switch_std(other, copy, TRUE, call)
    stop(e)
  })
}

# Points descriptor `target` at the file `path`, created or emptied. Returns a fresh
# duplicate of the stream that was in place.
set_std_file <- function(target, path, call) {
  in_call(call, {
    flush_std(target)
    if (target == 1L) {
      .Call(tarnwick_set_stdout_to_file, path)
    } else {
      .Call(tarnwick_set_stderr_to_file, path)
    }
  })
}

# Reroutes descriptor `target` until the calling with_*() function exits. `switch`
# makes the switch: a function of the user's call that returns the saved duplicate.
# The with_*() functions evaluate `code` in their own frame, with interrupts as the
# caller has them, so that an error raised by it names the call the user wrote.
#
# The restore is registered in the caller's frame (do.call() evaluates on.exit()
# there) before the switch, and interrupts are held from the switch until the saved
# duplicate is recorded. The restore is registered twice: R acts on an interrupt at any
# evaluation where interrupts are allowed, also in an on.exit() expression before the
# restore has held them. That aborts the one expression, and R goes on with the next,
# which finds the stream put back or puts it back.
reroute_until_exit <- function(target, switch) {
  state <- new.env(parent = emptyenv())
  state$target <- target
  state$call <- sys.call(-1L)
  restore <- bquote(put_back(.(state)))
  frame <- parent.frame()
  do.call(on.exit, list(restore, TRUE), envir = frame)
  do.call(on.exit, list(restore, TRUE), envir = frame)
  suspendInterrupts(state$saved <- switch(state$call))
  invisible()
}

# Puts back the stream that `state` holds, with interrupts held, unless it is back
# already. A failed flush does not stop the switch back. Once the stream is back, the
# flush's error is raised if `code` returned; if `code` raised, its error is the one
# the user sees, and the flush's comes as a warning.
put_back <- function(state) {
  suspendInterrupts(if (!is.null(state$saved)) {
    flushed <- tryCatch(flush_std(state$target), error = identity)
    switch_std(state$target, state$saved, TRUE, state$call)
    state$saved <- NULL
    if (inherits(flushed, "error")) {
      returned <- !identical(returnValue(put_back), put_back)
      if (returned) stop(simpleError(conditionMessage(flushed), state$call))
      warning(simpleWarning(conditionMessage(flushed), state$call))
    }
  })
}

set_stdout <- function(fd, drop = TRUE) {
  fd <- as_fd(fd)
  drop <- as_flag(drop)
  invisible(set_std_to_fd(1L, fd, drop, sys.call()))
}

set_stderr <- function(fd, drop = TRUE) {
  fd <- as_fd(fd)
  drop <- as_flag(drop)
  invisible(set_std_to_fd(2L, fd, drop, sys.call()))
}

set_stdout_file <- function(path) {
  path <- as_path(path)
  invisible(set_std_file(1L, path, sys.call()))
}

set_stderr_file <- function(path) {
  path <- as_path(path)
  invisible(set_std_file(2L, path, sys.call()))
}

with_stdout <- function(fd, code) {
  fd <- as_fd(fd)
  reroute_until_exit(1L, function(call) set_std_to_fd(1L, fd, FALSE, call))
  code
}

with_stderr <- function(fd, code) {
  fd <- as_fd(fd)
  reroute_until_exit(2L, function(call) set_std_to_fd(2L, fd, FALSE, call))
  code
}

with_stdout_file <- function(path, code) {
  path <- as_path(path)
  reroute_until_exit(1L, function(call) set_std_file(1L, path, call))
  code
}

with_stderr_file <- function(path, code) {
  path <- as_path(path)
  reroute_until_exit(2L, function(call) set_std_file(2L, path, call))
  code
}
