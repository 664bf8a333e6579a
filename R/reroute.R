# Rerouting standard output and standard error (descriptors 1 and 2): by hand with
# set_*(), or while an expression runs with with_*().
#
# The steps below raise errors whose call is an internal one, a routine's faults among
# them (checked()). Each exported function takes its own call once and hands it to
# raise_as() or run_rerouted(), which raise every error under it as an error of the
# package: the user sees the call they wrote.

# Flushes R's buffer for descriptor `target` (1 or 2), so that output written before a
# switch lands where it was written. For stdout that also sends out what C code left in
# stdio's buffer.
flush_std <- function(target) flush(if (target == 1L) stdout() else stderr())

# Points descriptor `target` at descriptor `fd` and closes `fd`, without flushing.
# Returns NULL when `drop`, else a fresh close-on-exec duplicate of the earlier stream.
switch_std <- function(target, fd, drop) {
  checked(.Call(tarnwick_reroute, target, fd, !drop))
}

# Flushes, then points `target` at the descriptor `fd` the caller names, consuming it,
# as switch_std() does. A failed flush raises before anything changes. The other
# standard stream is not the caller's to give away: for set_stdout(2), like the shell's
# 1>&2, the switch consumes a duplicate of descriptor 2, which stays open. If that
# switch fails, the duplicate goes back onto its own stream, which closes it, needs no
# free descriptor and leaves that stream as it was.
set_std_to_fd <- function(target, fd, drop) {
  flush_std(target)
  other <- 3L - target
  if (fd != other) return(switch_std(target, fd, drop))
  copy <- switch_std(other, other, FALSE)  # a stream switched to itself stays open
  withCallingHandlers(switch_std(target, copy, drop), error = function(e) {
    switch_std(other, copy, TRUE)
  })
}

# Flushes, then points `target` at the file `path`, created or emptied. Returns a
# fresh close-on-exec duplicate of the earlier stream.
set_std_to_file <- function(target, path) {
  flush_std(target)
  checked(.Call(tarnwick_reroute_to_file, target, path))
}

# Flushes, then points `target` at the file `path` opened for appending, created if
# missing. Returns a fresh close-on-exec duplicate of the earlier stream. The file's
# descriptor is the switch's to consume; if the switch fails, it is closed here.
set_std_to_appended_file <- function(target, path) {
  flush_std(target)
  fd <- checked(.Call(tarnwick_open_append, path))
  withCallingHandlers(switch_std(target, fd, FALSE), error = function(e) {
    .Call(tarnwick_close, fd)
  })
}

# Points `target` at `destination`, a descriptor or a path (its file emptied, or
# appended to when `append`), keeping the earlier stream. Returns its saved duplicate.
# Raises errors of the package naming `call`.
switch_to <- function(call, target, destination, append = FALSE) {
  if (!is.character(destination)) {
    return(raise_as(call, set_std_to_fd(target, destination, FALSE), fd = destination))
  }
  raise_as(call, path = destination, if (append) {
    set_std_to_appended_file(target, destination)
  } else {
    set_std_to_file(target, destination)
  })
}

# R's own output for the stream `target` (1L or 2L), which the call has rerouted: from
# here on what R prints to it goes to the descriptor, wherever that points, through a
# connection onto it. R prints standard output to the sink on top of its stack, if
# any, and the message stream to the message sink, and a console may show either
# itself, bypassing the descriptor: a sink pushed for standard output, and a message
# sink in place of the one in force, reach the descriptor in every front end. Returns
# what restore_r_stream() needs. With `split`, R's standard output also goes on where
# it went (see shown_apart()), as sink(split = TRUE) sends it.
divert_r_stream <- function(target, split = FALSE) {
  con <- checked(.Call(tarnwick_fd_connection, target))
  # A sink that cannot be pushed (R's stack holds 20) leaves the connection unused.
  withCallingHandlers(if (target == 1L) {
    depth <- sink.number()
    diverted <- list(target = target, con = con, depth = depth)
    sink(con, split = split && shown_apart(depth))
    push_descriptor_sink()
  } else {
    diverted <- list(target = target, con = con, message_sink = sink.number(type = "message"))
    sink(con, type = "message")
  }, error = function(e) close(con))
  diverted
}

# Puts R's own output for a stream back as divert_r_stream() found it: the sink stack
# cut back to its depth then, also past sinks that the code left, or the message sink
# that was in force; then closes the connection.
restore_r_stream <- function(diverted) {
  if (diverted$target == 1L) {
    for (i in seq_len(sink.number() - diverted$depth)) sink()
    pop_descriptor_sinks(diverted$depth)
  } else {
    restore_message_sink(diverted$message_sink)
  }
  close_if_open(diverted$con)
}

# Closes `con` unless code has closed it already (closeAllConnections() does), also
# when its number has gone to a connection opened since.
close_if_open <- function(con) {
  number <- as.integer(con)
  if (number %in% getAllConnections() &&
      identical(attr(getConnection(number), "conn_id"), attr(con, "conn_id"))) {
    close(con)
  }
}

# Whether R's standard output went elsewhere than descriptor 1 before the call: into a
# sink (`depth` of them), or to a console that shows it itself. A split there sends R's
# output on to it; elsewhere R's output reached descriptor 1, whose earlier stream the
# copy already feeds, and a split would write each line into the file twice. Terminal
# front ends are those whose GUI type R names X11 or Tk (unix) and RTerm (Windows).
shown_apart <- function(depth) {
  if (depth > 0L) return(!depth %in% descriptor_sinks$depths)
  !.Platform$GUI %in% c("X11", "Tk", "RTerm", "none", "unknown")
}

# The depths in R's sink stack of the sinks that the package's calls have pushed onto
# descriptor 1 and not yet taken off: under one of them, R's output reaches the
# descriptor already. Empty between calls.
descriptor_sinks <- new.env(parent = emptyenv())
descriptor_sinks$depths <- integer()

# Records the sink just pushed onto descriptor 1.
push_descriptor_sink <- function() {
  descriptor_sinks$depths <- c(descriptor_sinks$depths, sink.number())
}

# Forgets the sinks above `depth`, taken off.
pop_descriptor_sinks <- function(depth) {
  descriptor_sinks$depths <- descriptor_sinks$depths[descriptor_sinks$depths <= depth]
}

# Makes the connection numbered `number` the message sink again: standard error's (2)
# by resetting it, another by name, or standard error's if that one has been closed.
restore_message_sink <- function(number) {
  con <- if (number != 2L) tryCatch(getConnection(number), error = function(e) NULL)
  if (is.null(con)) sink(type = "message") else sink(con, type = "message")
}

# Evaluates `code` with streams rerouted, and puts them back however `code` ends.
# `routes` lists the switches, made in order (see route()); R's own output follows
# each stream (see divert_r_stream()). Returns withVisible() of `code`; with
# `print_value`, also prints its value when visible, while still rerouted, as the
# console would. `after_failure` runs once the streams are back when `code` did not
# return (it fails, is interrupted, or a switch fails). Errors are raised as errors of
# `call`. With `divert` FALSE only the descriptors are rerouted, and R's own output and
# messages go on as they would. With `split`, what the first route's file receives is
# also copied, as it grows, to the stream its target held before, by a thread of the
# package's library (see stop_follower()).
#
# Messages. Where the call reroutes standard error, a message that `code` signals is
# printed at once, into the rerouted stream, as R's default handler prints it, and
# goes no further: handlers outside the call, such as those of knitr that catch
# messages before they are printed, would otherwise take it past the descriptor.
#
# Interrupts. `code` runs with interrupts as the caller has them; the rest holds them
# where a stream changes, and an interrupt anywhere else leaves through on.exit(),
# which puts back what was switched. R acts on an interrupt also inside an on.exit()
# expression before that has held interrupts: it abandons that one expression and goes
# on with the next, so the put-back is registered twice, and the second finds the work
# done or does it. test_scoped_reroute.R proves it with an interrupt at every point of
# a call (the sweep) and a storm of them from another process.
#
# Errors. R prints an error's message before it unwinds the stack, so on.exit() comes
# too late to put back a stream that the message should reach: a calling handler puts
# the streams back first. An outer handler that resumes `code` through a restart after
# an error therefore finds the streams put back.
run_rerouted <- function(call, routes, code, print_value = FALSE, after_failure = NULL,
                         divert = TRUE, split = FALSE) {
  state <- new.env(parent = emptyenv())
  state$call <- call
  state$routes <- routes
  state$saved <- list()
  state$diverted <- list()
  state$after_failure <- after_failure
  on.exit(put_back(state, failed = TRUE))
  on.exit(put_back(state, failed = TRUE), add = TRUE)
  if (split) {
    suspendInterrupts(state$follower <- raise_as(call,
      checked(.Call(tarnwick_follow_start, routes[[1L]]$target))))
  }
  prints_messages <- FALSE
  for (k in seq_along(routes)) {
    route <- routes[[k]]
    suspendInterrupts({
      state$saved[[k]] <- switch_to(call, route$target, route$destination,
        isTRUE(route$append))
      if (divert) {
        state$diverted[[k]] <- raise_as(call, divert_r_stream(route$target, split))
      }
    })
    prints_messages <- prints_messages || (divert && route$target == 2L)
  }
  if (split) {
    raise_as(call, checked(.Call(tarnwick_follow_file, state$follower,
      routes[[1L]]$destination)), path = routes[[1L]]$destination)
  }
  value <- withCallingHandlers({
    value <- withVisible(code)
    if (print_value && value$visible) print(value$value)
    value
  }, message = function(m) {
    if (prints_messages) {
      cat(conditionMessage(m), file = stderr(), sep = "")
      invokeRestart("muffleMessage")
    }
  }, error = function(e) {
    put_back(state, failed = TRUE)
    if (is_forcing_call(conditionCall(e))) stop(raised_as(e, call))
  }, warning = function(w) {
    # Under warn = 2 R turns the warning into an error, which must reach the handler
    # above: only lesser warnings are raised again here.
    if (is_forcing_call(conditionCall(w)) && getOption("warn") < 2) {
      warning(raised_as(w, call))
      invokeRestart("muffleWarning")
    }
  })
  put_back(state, failed = FALSE)
  value
}

# Whether `call` is the one R gives a condition that `code` raises itself (stop() or
# warning() at its top level): that of the function that forced it, withVisible(). It
# is raised again as a condition of the user's call.
is_forcing_call <- function(call) identical(call, quote(withVisible(code)))

raised_as <- function(condition, call) {
  condition$call <- call
  condition
}

# Puts back, last switched first, the streams that `state` still holds rerouted, with
# interrupts held: R's own output for each, then the descriptor. Then, once, runs the
# state's after_failure when `failed`. A flush that fails does not stop a stream from
# coming back: once all are back, its error is raised if `code` returned, and comes as
# a warning if it failed, whose own error is the one the user sees.
put_back <- function(state, failed) {
  suspendInterrupts({
    flush_failure <- NULL
    for (k in rev(seq_along(state$saved))) {
      if (k <= length(state$diverted) && !is.null(state$diverted[[k]])) {
        diverted <- state$diverted[[k]]
        state$diverted[k] <- list(NULL)
        restore_r_stream(diverted)
      }
      target <- state$routes[[k]]$target
      flushed <- tryCatch(flush_std(target), error = identity)
      raise_as(state$call, switch_std(target, state$saved[[k]], TRUE),
        fd = state$saved[[k]])
      state$saved[[k]] <- NULL
      if (inherits(flushed, "error") && is.null(flush_failure)) flush_failure <- flushed
    }
    stop_follower(state)
    after <- state$after_failure
    state$after_failure <- NULL
    if (failed && !is.null(after)) after()
    if (!is.null(flush_failure)) {
      if (failed) {
        warning(simpleWarning(conditionMessage(flush_failure), state$call))
      } else {
        stop(as_client_error(flush_failure, state$call))
      }
    }
  })
}

# Stops the copy of split = TRUE, if the call has one, once it has copied all the file
# holds. A copy that stopped early, because its reader went away, gets one warning: the
# file has everything all the same.
stop_follower <- function(state) {
  follower <- state$follower
  if (is.null(follower)) return(invisible())
  state$follower <- NULL
  err <- raise_as(state$call, .Call(tarnwick_follow_stop, follower))
  if (err != 0L) {
    target <- state$routes[[1L]]$target
    warning(simpleWarning(sprintf(paste("the copy to where %s went before stopped",
      "(system error %d, %s)"), c("standard output", "standard error")[target], err,
      attr(err, "strerror")), state$call))
  }
}

# Evaluates `code` with the switches of `routes` (see run_rerouted()) and returns its
# value, visible or not as `code` left it.
with_routes <- function(call, routes, code, split = FALSE) {
  value <- run_rerouted(call, routes, code, split = split)
  if (value$visible) value$value else invisible(value$value)
}

# One switch: descriptor `target` (1L or 2L) to `destination`, a descriptor or a path
# whose file is emptied, or appended to when `append`.
route <- function(target, destination, append = FALSE) {
  list(target = target, destination = destination, append = append)
}

# Both streams into one: descriptor 1 to `destination`, then descriptor 2 to where 1
# goes, as the shell's >file 2>&1 does, so that lines land in the order they were
# written.
both_to <- function(destination, append = FALSE) {
  list(route(1L, destination, append), route(2L, 1L))
}

null_device <- "/dev/null"

set_stdout <- function(fd, drop = TRUE) {
  fd <- as_fd(fd)
  drop <- as_flag(drop, "drop")
  invisible(raise_as(sys.call(), set_std_to_fd(1L, fd, drop), fd = fd))
}

set_stderr <- function(fd, drop = TRUE) {
  fd <- as_fd(fd)
  drop <- as_flag(drop, "drop")
  invisible(raise_as(sys.call(), set_std_to_fd(2L, fd, drop), fd = fd))
}

# Interrupts are held while the file is opened and the stream switched: an interrupt
# between the two would leave the file's descriptor open.
set_stdout_file <- function(path, append = FALSE) {
  path <- as_path(path)
  append <- as_flag(append, "append")
  invisible(suspendInterrupts(switch_to(sys.call(), 1L, path, append)))
}

set_stderr_file <- function(path, append = FALSE) {
  path <- as_path(path)
  append <- as_flag(append, "append")
  invisible(suspendInterrupts(switch_to(sys.call(), 2L, path, append)))
}

with_stdout <- function(fd, code) {
  fd <- as_fd(fd)
  with_routes(sys.call(), list(route(1L, fd)), code)
}

with_stderr <- function(fd, code) {
  fd <- as_fd(fd)
  with_routes(sys.call(), list(route(2L, fd)), code)
}

with_stdout_file <- function(path, code, append = FALSE, split = FALSE) {
  path <- as_path(path)
  append <- as_flag(append, "append")
  split <- as_flag(split, "split")
  with_routes(sys.call(), list(route(1L, path, append)), code, split)
}

with_stderr_file <- function(path, code, append = FALSE, split = FALSE) {
  path <- as_path(path)
  append <- as_flag(append, "append")
  split <- as_flag(split, "split")
  with_routes(sys.call(), list(route(2L, path, append)), code, split)
}

with_output_file <- function(path, code, append = FALSE, split = FALSE) {
  path <- as_path(path)
  append <- as_flag(append, "append")
  split <- as_flag(split, "split")
  with_routes(sys.call(), both_to(path, append), code, split)
}

suppress_output <- function(code) {
  with_routes(sys.call(), both_to(null_device), code)
}
