# Rerouting through the exported functions: by hand, and scoped to an expression that
# may return, fail, be interrupted or nest. Every case runs in a child R process.
source("helpers.R")
q <- function(x) deparse1(x)

# For each stream: the functions, and how R, a child program and C-level code write to it.
streams <- list(
  list(name = "stdout", fd = 1L, with_file = "with_stdout_file", with_fd = "with_stdout",
    set_file = "set_stdout_file", set_fd = "set_stdout",
    emit = "emit <- function(tag) { cat(tag, 'R\\n'); system(paste('echo', tag, 'child'));
      invisible(fd_write(1, paste(tag, 'C\\n'))) }"),
  list(name = "stderr", fd = 2L, with_file = "with_stderr_file", with_fd = "with_stderr",
    set_file = "set_stderr_file", set_fd = "set_stderr",
    emit = "emit <- function(tag) { message(tag, ' R'); system(paste('echo', tag, 'child 1>&2'));
      invisible(fd_write(2, paste(tag, 'C\\n'))) }"))
emitted <- function(tag) paste(tag, c("R", "child", "C"))

for (s in streams) {
  files <- replicate(5, tempfile())
  names(files) <- c("normal", "error", "interrupt", "sigint", "hand")

  ## ---- return, error, interrupt condition and SIGINT all put the stream back ----
  child <- run_in_child(c(
    s$emit,
    sprintf("f <- %s", q(as.list(files))),
    "before <- open_fds()",
    sprintf("v <- %s(f$normal, { emit('normal'); 42 })", s$with_file),
    sprintf("e <- tryCatch(%s(f$error, { emit('error'); stop('boom') }),", s$with_file),
    "  error = conditionMessage)",
    "interrupt <- structure(list(message = '', call = NULL),",
    "  class = c('interrupt', 'condition'))",
    sprintf("i <- tryCatch(%s(f$interrupt, { emit('interrupt');", s$with_file),
    "  signalCondition(interrupt); 'not reached' }), interrupt = function(c) 'caught')",
    # A real interrupt: R turns the signal into an interrupt condition at its next check.
    sprintf("k <- tryCatch(%s(f$sigint, { emit('sigint');", s$with_file),
    "  tools::pskill(Sys.getpid(), tools::SIGINT); Sys.sleep(30); 'not reached' }),",
    "  interrupt = function(c) 'signalled')",
    "emit('after')",
    "cat('values', v, e, i, k, identical(before, open_fds()), '\\n')"))
  info <- paste(s$name, paste(child$output, collapse = "\n"))
  expect_equal(child$status, 0L, info = info)
  for (case in c("normal", "error", "interrupt", "sigint")) {
    expect_equal(readLines(files[[case]]), emitted(case), info = paste(s$name, case))
  }
  expect_true(all(emitted("after") %in% child$output), info = info)
  expect_false(any(emitted("normal") %in% child$output), info = info)
  expect_equal(tagged(child, "values"), "42 boom caught signalled TRUE ", info = info)

  ## ---- by hand: the saved descriptor puts the stream back and is closed ----
  child <- run_in_child(c(
    s$emit,
    sprintf("saved <- %s(%s)", s$set_file, q(files[["hand"]])),
    "emit('hand')",
    sprintf("back <- %s(saved)", s$set_fd),
    "emit('back')",
    "cat('hand', is.integer(saved), is.null(back), saved %in% open_fds(), '\\n')"))
  info <- paste(s$name, paste(child$output, collapse = "\n"))
  expect_equal(readLines(files[["hand"]]), emitted("hand"), info = info)
  expect_true(all(emitted("back") %in% child$output), info = info)
  expect_equal(tagged(child, "hand"), "TRUE TRUE FALSE ", info = info)

  ## ---- a descriptor the caller holds: written to, consumed, stream put back ----
  child <- run_in_child(c(
    s$emit,
    "p <- th('th_pipe')",
    sprintf("v <- %s(as.numeric(p[2]), { emit('pipe'); 'value' })", s$with_fd),
    "emit('after')",
    "cat('fd', v, p[2] %in% open_fds(), '\\n')",
    "cat('piped', gsub('\\n', '|', rawToChar(th('th_read', p[1], 1000L))), '\\n')"))
  info <- paste(s$name, paste(child$output, collapse = "\n"))
  expect_equal(tagged(child, "fd"), "value FALSE ", info = info)
  expect_equal(tagged(child, "piped"), paste0(paste(emitted("pipe"), collapse = "|"), "| "),
    info = info)
  expect_true(all(emitted("after") %in% child$output), info = info)
  unlink(files)
}

## ---- nesting: each level puts back the stream it found, also after an error ----
files <- replicate(4, tempfile())
child <- run_in_child(c(
  sprintf("f <- %s", q(files)),
  "before <- open_fds()",
  "with_stdout_file(f[1], {",
  "  cat('outer 1\\n')",
  "  with_stdout_file(f[2], { cat('inner\\n'); with_stderr_file(f[3], message('err')) })",
  "  cat('outer 2\\n')",
  "  try(with_stdout_file(f[4], { cat('failing\\n'); stop('inner failure') }), silent = TRUE)",
  "  cat('outer 3\\n')",
  "})",
  "cat('same', identical(before, open_fds()), '\\n')"))
expect_equal(lapply(files, readLines),
  list(c("outer 1", "outer 2", "outer 3"), "inner", "err", "failing"))
expect_equal(tagged(child, "same"), "TRUE ")
unlink(files)

## ---- the other standard stream is lent as a duplicate, not closed ----
files <- replicate(2, tempfile())
child <- run_in_child(c(
  sprintf("f <- %s", q(files)),
  "before <- open_fds()",
  "with_stderr_file(f[1], with_stdout(2, cat('stdout into stderr', is_cloexec(1), '\\n')))",
  "with_stdout_file(f[2], with_stderr(1L, message('stderr into stdout')))",
  "cat('open', identical(before, open_fds()), '\\n')",
  "message('stderr works')"))
# The duplicate lent is close-on-exec until it becomes descriptor 1, which is not.
expect_equal(lapply(files, readLines),
  list("stdout into stderr FALSE ", "stderr into stdout"))
expect_equal(tagged(child, "open"), "TRUE ")
expect_true("stderr works" %in% child$output)
unlink(files)

## ---- ... and closed again when the switch fails at the descriptor limit ----
child <- run_in_child(c(
  "invisible(th('th_set_fd_limit', 64L))",
  "held <- th('th_exhaust_fds')",
  "invisible(th('th_close', held[length(held)]))",  # room for the duplicate only
  "before <- open_fds()",
  "e <- tryCatch(with_stdout(2, cat('never ran\\n')), error = conditionMessage)",
  "same <- identical(before, open_fds())",
  "for (fd in held) th('th_close', fd)",
  "cat('emfile', same, e, '\\n')"))
expect_true(grepl(paste0("^TRUE Cannot reroute stdout ", as_regex(system_error("EMFILE")),
  " @client:[0-9]+ \\(tarnwick_set_std\\) $"), tagged(child, "emfile")),
  info = paste(child$output, collapse = "\n"))
expect_false("never ran" %in% child$output)

## ---- a failed switch leaves the stream as it was and runs nothing ----
child <- run_in_child(c(
  "before <- open_fds()",
  "e <- tryCatch(with_stdout_file('/no/such/dir/f', cat('ran\\n')), error = conditionMessage)",
  "cat('failed', startsWith(e, 'Cannot open new stdout file'), identical(before, open_fds()), '\\n')",
  # An error raised by the code names the call the user wrote, not an internal one.
  "e <- tryCatch(with_stderr_file(tempfile(), stop('x')), error = identity)",
  "cat('call', deparse1(conditionCall(e)), '\\n')",
  # So does a failed system call: it used to name the helper that made the .Call.
  "calls <- c('set_stdout(4321)', 'set_stderr(4321, drop = FALSE)', 'with_stdout(4321, 1)',",
  "  'with_stderr(4321, 1)', 'set_stdout_file(\"/no/such/dir/f\")',",
  "  'with_stderr_file(\"/no/such/dir/f\", 1)')",
  "named <- vapply(calls, function(text) tryCatch({ eval(str2lang(text)); 'no error' },",
  "  error = function(e) deparse1(conditionCall(e))), '')",
  "cat('named', calls == named, '\\n')"))
expect_equal(tagged(child, "failed"), "TRUE TRUE ")
expect_equal(tagged(child, "call"), "with_stderr_file(tempfile(), stop(\"x\")) ")
expect_equal(tagged(child, "named"), "TRUE TRUE TRUE TRUE TRUE TRUE ",
  info = paste(child$output, collapse = "\n"))
expect_false("ran" %in% child$output)

## ---- interrupts never leave a stream rerouted nor a duplicate open ----
# Each with_*() function, two ways. The sweep sends one SIGINT from inside `code`, with
# interrupts held, then shifts by one evaluation at a time where R acts on it, across
# the 1000 evaluations between R's checks: an interrupt that struck the restore once
# left the stream rerouted. The storm has another process send SIGINT every
# millisecond while the function is called in a loop. Descriptor 9 is a fresh
# descriptor for with_stdout() and with_stderr() to consume each time.
child <- run_in_child(c(
  "compiler::enableJIT(0)",
  "f <- tempfile()",
  "keep <- with_stdout_file(f, set_stdout(1, drop = FALSE))",
  "funs <- list(",
  "  with_stdout_file = function(code) with_stdout_file(f, code),",
  "  with_stderr_file = function(code) with_stderr_file(f, code),",
  "  with_stdout = function(code) { th('th_dup2', keep, 9L); with_stdout(9, code) },",
  "  with_stderr = function(code) { th('th_dup2', keep, 9L); with_stderr(9, code) })",
  "state <- function() { invisible(th('th_close', 9L))",
  "  list(open_fds(), fd_id(1L), fd_id(2L)) }",
  "before <- state()",
  # A second interrupt that lands while R unwinds the first through on.exit() code
  # can, rarely, pass the innermost interrupt handler; plain R functions show it too.
  # The outer handler takes it.
  "catch <- function(expr) tryCatch(tryCatch(allowInterrupts(expr),",
  "  interrupt = function(e) 1), interrupt = function(e) 1)",
  # The first shift after which the state differed, or NA.
  # The loop after the call lasts past R's next check, which takes the interrupt.
  "sweep <- function(with) suspendInterrupts({",
  "  for (j in 0:1100) {",
  "    catch({ for (i in seq_len(j)) NULL",
  "      with(suspendInterrupts(tools::pskill(Sys.getpid(), tools::SIGINT)))",
  "      for (i in 1:1100) NULL })",
  "    if (!identical(state(), before)) return(j)",
  "  }",
  "  NA",
  "})",
  # Calls, interrupted calls, and whether the state ever differed.
  # Sys.sleep() would take interrupts even where they are held: R waits in select()
  # with them allowed. So the end of the storm is awaited with a busy loop.
  "storm <- function(with, seconds) suspendInterrupts({",
  "  stop_file <- tempfile(); done_file <- tempfile()",
  "  system(sprintf(paste(\"sh -c 'while [ ! -e %s ] && kill -INT %d; do sleep 0.001;\",",
  "    \"done; touch %s' &\"), stop_file, Sys.getpid(), done_file))",
  "  calls <- 0; interrupted <- 0; differed <- FALSE",
  "  deadline <- Sys.time() + seconds",
  "  while (!differed && Sys.time() < deadline) {",
  "    calls <- calls + 1",
  "    outcome <- catch(with({ for (i in 1:300) NULL; 0 }))",
  "    interrupted <- interrupted + !identical(outcome, 0)",
  "    differed <- !identical(state(), before)",
  "  }",
  "  file.create(stop_file)",
  "  while (!file.exists(done_file)) NULL",
  "  catch(for (i in 1:5000) NULL)",  # takes a last interrupt still pending
  "  c(calls, interrupted, differed)",
  "})",
  "swept <- vapply(funs, sweep, 0)",
  "stormed <- vapply(funs, storm, numeric(3), seconds = 1)",
  # Written last: a stream left rerouted would swallow these lines.
  "cat(sprintf('sweep %s %s\\n', names(funs), swept), sep = '')",
  "cat(sprintf('storm %s %s\\n', names(funs), apply(stormed, 2, paste, collapse = ' ')),",
  "  sep = '')"))
info <- paste(child$output, collapse = "\n")
sweeps <- tagged(child, "sweep")
expect_equal(sweeps, paste(c("with_stdout_file", "with_stderr_file", "with_stdout",
  "with_stderr"), "NA"), info = info)
storms <- read.table(text = tagged(child, "storm"),
  col.names = c("fun", "calls", "interrupted", "differed"))
expect_true(nrow(storms) == 4 && all(storms$differed == 0), info = info)
expect_true(nrow(storms) == 4 && all(storms$interrupted > 0), info = info)

## ---- in a fresh session, without attaching the package ----
f <- tempfile()
script <- tempfile(fileext = ".R")
writeLines(c(sprintf("f <- %s", q(f)),
  "v <- client::with_stdout_file(f, system('echo hi'))",
  "cat('back', v, '\\n')",
  "try(client::with_stdout_file(f, { system('echo again'); stop('oops') }), silent = TRUE)",
  "cat('back again\\n')"), script)
out <- suppressWarnings(system2(file.path(R.home("bin"), "Rscript"),
  c("--vanilla", shQuote(script)), stdout = TRUE, stderr = TRUE,
  env = paste0("R_LIBS=", shQuote(paste(.libPaths(), collapse = .Platform$path.sep)))))
expect_equal(readLines(f), "again")
expect_equal(out, c("back 0 ", "back again"))
unlink(c(f, script))

## ---- disable_inheritance: child programs no longer see R's descriptors ----
child <- run_in_child(c(
  "invisible(th('th_dup2', 0L, 9L))",
  "v <- withVisible(disable_inheritance())",
  "cat('sweep', is.null(v$value), v$visible, is_cloexec(9L),",
  "  system('{ true <&9; } 2>/dev/null') != 0, '\\n')"))
expect_equal(tagged(child, "sweep"), "TRUE FALSE TRUE TRUE ")

## ---- a failed flush does not stop the stream from coming back ----
# C code has printed into stdio's buffer, and the pipe's reader is gone: the flush
# before the switch back raises R's SIGPIPE error. That once left the stream on the dead
# pipe. Only the first such write raises, so each case has a child of its own.
flush_cases <- list(
  list(code = "'value'", outcome = "error: ignoring SIGPIPE signal"),
  list(code = "stop('from code')",
    outcome = "error: from code; warning: ignoring SIGPIPE signal"))
for (case in flush_cases) {
  child <- run_in_child(c(
    "before <- list(open_fds(), fd_id(1L))",
    "p <- th('th_pipe'); invisible(th('th_close', p[1]))",
    "warned <- NULL",
    "outcome <- withCallingHandlers(tryCatch(",
    sprintf("  with_stdout(p[2], { th('th_stdio_print', 'buffered\\n'); %s }),", case$code),
    "  error = function(e) paste('error:', conditionMessage(e))),",
    "  warning = function(w) {",
    "    warned <<- paste('; warning:', conditionMessage(w))",
    "    invokeRestart('muffleWarning')",
    "  })",
    "same <- identical(before, list(open_fds(), fd_id(1L)))",
    "cat('flush ', outcome, warned, same, '\\n', sep = '')"))
  expect_equal(tagged(child, "flush"), paste0(case$outcome, "TRUE"),
    info = paste(case$code, paste(child$output, collapse = "\n")))
}
