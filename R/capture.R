# Capturing what the process writes to descriptors 1 and 2 while an expression runs, as
# lines or bytes: by R, by compiled code and by child programs alike.

capture_stdout <- function(code, raw = FALSE, split = FALSE) {
  raw <- as_flag(raw, "raw")
  split <- as_flag(split, "split")
  capture(sys.call(), 1L, code, raw, split)
}

capture_stderr <- function(code, raw = FALSE, split = FALSE) {
  raw <- as_flag(raw, "raw")
  split <- as_flag(split, "split")
  capture(sys.call(), 2L, code, raw, split)
}

capture_output <- function(code, raw = FALSE, split = FALSE) {
  raw <- as_flag(raw, "raw")
  split <- as_flag(split, "split")
  capture(sys.call(), c(1L, 2L), code, raw, split)
}

# Evaluates `code` with the descriptors `targets` rerouted into one temporary file, in
# the session's temporary folder, and prints its value when visible, as the console
# would. Returns what reached the file: its lines, or its bytes when `raw`. A file, not
# a pipe: a pipe blocks once it is full, while nothing reads it. When `code` does not
# return, what it wrote goes where R printed the first target before the call, once the
# streams are back, ahead of the error's message. The file, and the connection that reads it
# back, go however the call ends; the clean-up is registered twice for the reason
# run_rerouted() gives.
capture <- function(call, targets, code, raw, split = FALSE) {
  state <- new.env(parent = emptyenv())
  state$file <- tempfile("capture-")
  on.exit(discard(state))
  on.exit(discard(state), add = TRUE)
  routes <- if (length(targets) == 2L) both_to(state$file) else {
    list(route(targets, state$file))
  }
  replay_failure <- function() {
    replayed <- tryCatch(replay(state$file, targets[1L]), error = identity)
    if (inherits(replayed, "error")) {
      warning(simpleWarning(paste("captured output not replayed:",
        conditionMessage(replayed)), call))
    }
  }
  # With split the output has been shown as it came: it is not shown again.
  run_rerouted(call, routes, code, print_value = TRUE, split = split,
    after_failure = if (!split) replay_failure)
  # Opened with interrupts held, so that the connection is recorded for discard().
  suspendInterrupts(state$con <- file(state$file, "rb"))
  if (raw) {
    readBin(state$con, "raw", n = file.size(state$file))
  } else {
    read_lines(state$con, state$file, call)
  }
}

# The lines of `con`, the connection that reads `file`, as readLines() gives them: the
# last one may lack its line end, and a line that holds a NUL byte ends at it. That
# loss gets one warning of `call`, which names the way to every byte.
read_lines <- function(con, file, call) {
  cut <- FALSE
  lines <- withCallingHandlers(readLines(con), warning = function(w) {
    # readLines() names the file when it warns of a missing last line end, and only
    # then; its other warnings are of NUL bytes, one for each line that holds one.
    if (!grepl(file, conditionMessage(w), fixed = TRUE)) cut <<- TRUE
    invokeRestart("muffleWarning")
  })
  if (cut) {
    warning(simpleWarning(paste("captured output holds a NUL byte, which a string",
      "cannot hold: its line ends there (raw = TRUE returns every byte)"), call))
  }
  lines
}

# Closes the connection that reads a capture's file (state$con), if it has one, and
# removes the file (state$file).
discard <- function(state) {
  suspendInterrupts({
    if (!is.null(state$con)) {
      con <- state$con
      state$con <- NULL
      close(con)
    }
    unlink(state$file)
  })
}

# Writes what `file` holds where R prints the stream `target` (1L or 2L), a chunk at a
# time: to the console, a sink or the descriptor, wherever R's own output went before
# the call. A file that was never made writes nothing. A string cannot hold a NUL byte,
# so NULs are left out.
replay <- function(file, target) {
  if (!file.exists(file)) return(invisible())
  con <- file(file, "rb")
  on.exit(close(con))
  out <- if (target == 1L) stdout() else stderr()
  repeat {
    chunk <- readBin(con, "raw", n = replay_chunk)
    if (length(chunk) == 0L) break
    cat(rawToChar(chunk[chunk != as.raw(0L)]), file = out)
  }
}

replay_chunk <- 2^20
