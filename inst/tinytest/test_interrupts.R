# Interrupts at every point of the scoped functions, and in storms: a stream is never
# left rerouted, a duplicate open, a file behind or R's output sunk elsewhere. Runs in a
# child R process.
source("helpers.R")

## ---- interrupts never leave a stream rerouted, a duplicate open or a file behind ----
# Each function, two ways. The sweep sends one SIGINT from inside `code`, with
# interrupts held, then shifts by one evaluation at a time where R acts on it, across
# the 1000 evaluations between R's checks: an interrupt that struck the restore once
# left the stream rerouted. The storm has another process send SIGINT every
# millisecond while the function is called in a loop. Descriptor 9 is a fresh
# descriptor for with_stdout() and with_stderr() to consume each time; the listing of
# the temporary folder shows a capture's file left behind.
got <- in_child(quote({
  compiler::enableJIT(0)
  f <- tempfile()
  keep <- with_stdout_file(f, set_stdout(1, drop = FALSE))
  funs <- list(
    with_stdout_file = function(code) with_stdout_file(f, code),
    with_stderr_file = function(code) with_stderr_file(f, code),
    with_stdout_file_append = function(code) with_stdout_file(f, code, append = TRUE),
    with_output_file = function(code) with_output_file(f, code),
    suppress_output = function(code) suppress_output(code),
    with_stdout = function(code) { th("th_dup2", keep, 9L); with_stdout(9, code) },
    with_stderr = function(code) { th("th_dup2", keep, 9L); with_stderr(9, code) },
    capture_stdout = function(code) capture_stdout(code),
    capture_stderr = function(code) capture_stderr(code),
    capture_output = function(code) capture_output(code),
    with_output_file_split = function(code) with_output_file(f, code, split = TRUE),
    capture_stdout_split = function(code) capture_stdout(code, split = TRUE))
  # The threads of the process, where the system lists them: a split call's copier
  # must be gone once the call is.
  threads <- function() if (dir.exists("/proc/self/task")) length(dir("/proc/self/task"))
  # R's own output is part of the state: the sink stack, the message sink and the
  # connections that the calls make onto descriptors 1 and 2.
  state <- function() {
    invisible(th("th_close", 9L))
    list(open_fds(), fd_id(1L), fd_id(2L), dir(tempdir()), sink.number(),
      sink.number(type = "message"), getAllConnections(), threads())
  }
  # A first thread may start runtime threads of its own that stay (a sanitizer's).
  with_output_file(f, NULL, split = TRUE)
  before <- state()
  # Whether the state is as before, noting which parts differed. A thread that has been
  # joined can still be listed for a moment, the longer under emulation: its count is
  # read again, without sleeping, which would take interrupts, until it settles.
  differing <- integer()
  same_state <- function() {
    now <- state()
    for (i in 1:100000) {
      if (identical(now[[8]], before[[8]])) break
      now[[8]] <- threads()
    }
    parts <- which(!mapply(identical, now, before))
    differing <<- union(differing, parts)
    length(parts) == 0L
  }
  # A second interrupt that lands while R unwinds the first through on.exit() code
  # can, rarely, pass the innermost interrupt handler; plain R functions show it too.
  # The outer handler takes it.
  catch <- function(expr) {
    tryCatch(tryCatch(allowInterrupts(expr), interrupt = function(e) 1),
      interrupt = function(e) 1)
  }
  # The first shift after which the state differed, or NA. The loop after the call
  # lasts past R's next check, which takes the interrupt.
  sweep <- function(with) suspendInterrupts({
    for (j in 0:1100) {
      catch({
        for (i in seq_len(j)) NULL
        with(suspendInterrupts(invisible(tools::pskill(Sys.getpid(), tools::SIGINT))))
        for (i in 1:1100) NULL
      })
      if (!same_state()) return(j)
    }
    NA
  })
  # Calls, interrupted calls, and whether the state ever differed. Sys.sleep() would
  # take interrupts even where they are held: R waits in select() with them allowed.
  # So the end of the storm is awaited with a busy loop.
  storm <- function(with, seconds) suspendInterrupts({
    stop_file <- tempfile()
    done_file <- tempfile()
    system(sprintf(paste("sh -c 'while [ ! -e %s ] && kill -INT %d; do sleep 0.001;",
      "done; touch %s' &"), stop_file, Sys.getpid(), done_file))
    calls <- 0
    interrupted <- 0
    differed <- FALSE
    deadline <- Sys.time() + seconds
    while (!differed && Sys.time() < deadline) {
      calls <- calls + 1
      outcome <- catch({ with({ for (i in 1:300) NULL; invisible() }); 0 })
      interrupted <- interrupted + !identical(outcome, 0)
      differed <- !same_state()
    }
    file.create(stop_file)
    while (!file.exists(done_file)) NULL
    catch(for (i in 1:5000) NULL)  # takes a last interrupt still pending
    unlink(c(stop_file, done_file))
    c(calls = calls, interrupted = interrupted, differed = differed)
  })
  swept <- vapply(funs, sweep, 0)
  stormed <- vapply(funs, storm, numeric(3), seconds = 1)
  list(swept = swept, stormed = stormed, differing = differing)
}))
# Which parts of the state differed, by their place in state(): descriptors, stdout,
# stderr, the temporary folder, sinks, the message sink, connections, threads.
differing <- paste("parts that differed:", toString(got$value$differing))
functions <- c("with_stdout_file", "with_stderr_file", "with_stdout_file_append",
  "with_output_file", "suppress_output", "with_stdout", "with_stderr", "capture_stdout",
  "capture_stderr", "capture_output", "with_output_file_split", "capture_stdout_split")
expect_identical(got$value$swept, setNames(rep(NA_real_, 12), functions),
  info = paste(differing, output_of(got)))
stormed <- got$value$stormed
expect_true(identical(colnames(stormed), functions) && all(stormed["differed", ] == 0),
  info = paste(c(differing, capture.output(print(stormed))), collapse = "\n"))
expect_true(all(stormed["interrupted", ] > 0),
  info = paste(capture.output(print(stormed)), collapse = "\n"))
