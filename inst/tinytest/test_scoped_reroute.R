# Rerouting through the exported functions: by hand, and scoped to an expression that
# may return, fail, be interrupted or nest. Every case runs in a child R process.
source("helpers.R")

# For each stream: the functions, and how R, a child program and C-level code write to it.
streams <- list(
  list(name = "stdout", with_file = quote(with_stdout_file), with_fd = quote(with_stdout),
    set_file = quote(set_stdout_file), set_fd = quote(set_stdout),
    emit = quote(function(tag) {
      cat(tag, "R\n")
      system(paste("echo", tag, "child"))
      invisible(fd_write(1, paste(tag, "C\n")))
    })),
  list(name = "stderr", with_file = quote(with_stderr_file), with_fd = quote(with_stderr),
    set_file = quote(set_stderr_file), set_fd = quote(set_stderr),
    emit = quote(function(tag) {
      message(tag, " R")
      system(paste("echo", tag, "child 1>&2"))
      invisible(fd_write(2, paste(tag, "C\n")))
    })))
emitted <- function(tag) paste(tag, c("R", "child", "C"))

for (s in streams) {
  files <- as.list(replicate(5, tempfile()))
  names(files) <- c("normal", "error", "interrupt", "sigint", "hand")

  ## ---- return, error, interrupt condition and SIGINT all put the stream back ----
  got <- in_child(bquote({
    emit <- .(s$emit)
    f <- .(files)
    before <- open_fds()
    interrupt <- structure(list(message = "", call = NULL),
      class = c("interrupt", "condition"))
    values <- list(
      normal = .(s$with_file)(f$normal, { emit("normal"); 42 }),
      error = tryCatch(.(s$with_file)(f$error, { emit("error"); stop("boom") }),
        error = conditionMessage),
      interrupt = tryCatch(.(s$with_file)(f$interrupt, {
        emit("interrupt")
        signalCondition(interrupt)
        "not reached"
      }), interrupt = function(c) "caught"),
      # A real interrupt: R turns the signal into a condition at its next check.
      sigint = tryCatch(.(s$with_file)(f$sigint, {
        emit("sigint")
        tools::pskill(Sys.getpid(), tools::SIGINT)
        Sys.sleep(30)
        "not reached"
      }), interrupt = function(c) "signalled"))
    emit("after")
    list(values = values, same_fds = identical(before, open_fds()))
  }))
  info <- paste(s$name, output_of(got))
  expect_identical(got$value, list(values = list(normal = 42, error = "boom",
    interrupt = "caught", sigint = "signalled"), same_fds = TRUE), info = info)
  for (case in c("normal", "error", "interrupt", "sigint")) {
    expect_equal(readLines(files[[case]]), emitted(case), info = paste(s$name, case))
  }
  expect_true(all(emitted("after") %in% got$output), info = info)
  expect_false(any(emitted("normal") %in% got$output), info = info)

  ## ---- by hand: the saved descriptor puts the stream back and is closed ----
  got <- in_child(bquote({
    emit <- .(s$emit)
    saved <- .(s$set_file)(.(files$hand))
    emit("hand")
    back <- .(s$set_fd)(saved)
    emit("back")
    list(saved = is.integer(saved), back = is.null(back), closed = !(saved %in% open_fds()))
  }))
  info <- paste(s$name, output_of(got))
  expect_identical(got$value, list(saved = TRUE, back = TRUE, closed = TRUE), info = info)
  expect_equal(readLines(files$hand), emitted("hand"), info = info)
  expect_true(all(emitted("back") %in% got$output), info = info)

  ## ---- a descriptor the caller holds: written to, consumed, stream put back ----
  got <- in_child(bquote({
    emit <- .(s$emit)
    p <- th("th_pipe")
    value <- .(s$with_fd)(as.numeric(p[2]), { emit("pipe"); "value" })
    emit("after")
    list(value = value, consumed = !(p[2] %in% open_fds()),
      piped = rawToChar(th("th_read", p[1], 1000L)))
  }))
  info <- paste(s$name, output_of(got))
  expect_identical(got$value, list(value = "value", consumed = TRUE,
    piped = paste0(emitted("pipe"), "\n", collapse = "")), info = info)
  expect_true(all(emitted("after") %in% got$output), info = info)
  unlink(unlist(files))
}

## ---- appending, both streams in one file, silence ----
# Each case writes "new" lines into a file that holds "old": appended after it, or in
# place of it without append. Both streams into one file keep the order of the writes:
# two calls opening one path each once overwrote each other's lines.
both <- quote({
  cat("R out\n")
  message("R err")
  system("echo child out; echo child err 1>&2")
  invisible(fd_write(1, "C out\n"))
})
both_lines <- c("R out", "R err", "child out", "child err", "C out")
append_cases <- list(
  list(call = quote(with_stdout_file(f, cat("new\n"), append = TRUE)),
    lines = c("old", "new")),
  list(call = quote(with_stderr_file(f, message("new"), append = TRUE)),
    lines = c("old", "new")),
  list(call = quote(with_output_file(f, both, append = TRUE)),
    lines = c("old", both_lines)),
  list(call = quote(with_output_file(f, both)), lines = both_lines),
  list(call = quote({ saved <- set_stdout_file(f, append = TRUE); cat("new\n")
    set_stdout(saved) }), lines = c("old", "new")),
  list(call = quote({ saved <- set_stderr_file(f, append = TRUE); message("new")
    set_stderr(saved) }), lines = c("old", "new")),
  list(call = quote(suppress_output({ both; cat("value\n") })), lines = "old"))
for (case in append_cases) {
  f <- tempfile()
  writeLines("old", f)
  got <- in_child(bquote({
    f <- .(f)
    both <- function() .(both)
    before <- list(open_fds(), fd_id(1L), fd_id(2L))
    value <- .(do.call(substitute, list(case$call, list(both = quote(both())))))
    message("stderr back")
    list(same = identical(before, list(open_fds(), fd_id(1L), fd_id(2L))))
  }))
  info <- paste(deparse1(case$call), output_of(got))
  expect_identical(got$value$same, TRUE, info = info)
  expect_identical(readLines(f), case$lines, info = info)
  expect_true("stderr back" %in% got$output && !any(both_lines %in% got$output),
    info = info)
  unlink(f)
}
# A missing file is created with mode 0644 as the umask narrows it; suppress_output()
# returns the value of its code, visible or not.
f <- tempfile()
got <- in_child(bquote({
  old <- Sys.umask("027")
  with_stdout_file(.(f), cat("x\n"), append = TRUE)
  Sys.umask(old)
  list(mode = format(file.mode(.(f))), value = withVisible(suppress_output(invisible(7))))
}))
expect_identical(got$value, list(mode = "640", value = list(value = 7, visible = FALSE)),
  info = output_of(got))
unlink(f)

## ---- four processes append 10^4 lines each to one log: every line whole ----
log <- tempfile()
script <- tempfile(fileext = ".R")
writeLines(deparse(bquote(client::with_output_file(.(log), append = TRUE,
  for (i in 1:10000) cat(sprintf("%s %05d %s\n", commandArgs(TRUE)[1], i,
    strrep("x", 40)))))), script)
rscript_path <- file.path(R.home("bin"), "Rscript")
file.create(log)
system(paste(c(vapply(1:4, function(id) {
  paste(child_env(), shQuote(rscript_path), "--vanilla", shQuote(script), id, "&")
}, ""), "wait"), collapse = " "))
lines <- readLines(log)
whole <- grepl("^[1-4] [0-9]{5} x{40}$", lines)
expect_true(length(lines) == 40000 && all(whole), info = paste(length(lines), "lines,",
  sum(!whole), "broken"))
expect_identical(sort(unique(substr(lines, 1, 7))), sort(sprintf("%d %05d",
  rep(1:4, each = 10000), 1:10000)))
unlink(c(log, script))

## ---- nesting: each level puts back the stream it found, also after an error ----
files <- replicate(4, tempfile())
got <- in_child(bquote({
  f <- .(files)
  before <- open_fds()
  with_stdout_file(f[1], {
    cat("outer 1\n")
    with_stdout_file(f[2], { cat("inner\n"); with_stderr_file(f[3], message("err")) })
    cat("outer 2\n")
    try(with_stdout_file(f[4], { cat("failing\n"); stop("inner failure") }), silent = TRUE)
    cat("outer 3\n")
  })
  identical(before, open_fds())
}))
expect_true(got$value, info = output_of(got))
expect_equal(lapply(files, readLines),
  list(c("outer 1", "outer 2", "outer 3"), "inner", "err", "failing"))
unlink(files)

## ---- the other standard stream is lent as a duplicate, not closed ----
# The duplicate lent is close-on-exec until it becomes descriptor 1, which is not.
files <- replicate(2, tempfile())
got <- in_child(bquote({
  f <- .(files)
  before <- open_fds()
  with_stderr_file(f[1], with_stdout(2, cat("stdout into stderr", is_cloexec(1), "\n")))
  with_stdout_file(f[2], with_stderr(1L, message("stderr into stdout")))
  message("stderr works")
  identical(before, open_fds())
}))
expect_true(got$value, info = output_of(got))
expect_equal(lapply(files, readLines),
  list("stdout into stderr FALSE ", "stderr into stdout"))
expect_true("stderr works" %in% got$output)
unlink(files)

## ---- a failed switch leaves the stream as it was, runs nothing, names the call ----
# Errors once named the internal helper that made the .Call, not the user's call.
got <- in_child(quote({
  before <- open_fds()
  failed <- tryCatch(with_stdout_file("/no/such/dir/f", cat("ran\n")),
    error = conditionMessage)
  from_code <- tryCatch(with_stderr_file(tempfile(), stop("x")), error = identity)
  calls <- c("set_stdout(4321)", "set_stderr(4321, drop = FALSE)", "with_stdout(4321, 1)",
    "with_stderr(4321, 1)", "set_stdout_file(\"/no/such/dir/f\")",
    "with_stderr_file(\"/no/such/dir/f\", 1)")
  named <- vapply(calls, function(text) {
    tryCatch({ eval(str2lang(text)); "no error" },
      error = function(e) deparse1(conditionCall(e)))
  }, "", USE.NAMES = FALSE)
  list(failed = startsWith(failed, "Cannot open new stdout file"),
    same_fds = identical(before, open_fds()),
    code_call = deparse1(conditionCall(from_code)), named = named == calls)
}))
expect_identical(got$value, list(failed = TRUE, same_fds = TRUE,
  code_call = "with_stderr_file(tempfile(), stop(\"x\"))", named = rep(TRUE, 6)),
  info = output_of(got))
expect_false("ran" %in% got$output)

## ---- in a fresh session, without attaching the package ----
f <- tempfile()
script <- tempfile(fileext = ".R")
writeLines(deparse(bquote({
  v <- client::with_stdout_file(.(f), system("echo hi"))
  cat("back", v, "\n")
  try(client::with_stdout_file(.(f), { system("echo again"); stop("oops") }),
    silent = TRUE)
  cat("back again\n")
})), script)
got <- run_rscript(script)
expect_equal(readLines(f), "again")
expect_equal(got$output, c("back 0 ", "back again"))
unlink(c(f, script))

## ---- a failed flush does not stop the stream from coming back ----
# C code has printed into stdio's buffer, and the pipe's reader is gone: the flush
# before the switch back raises R's SIGPIPE error. That once left the stream on the dead
# pipe. Only the first such write raises, so each case has a child of its own.
flush_cases <- list(
  list(code = quote("value"), outcome = "error: ignoring SIGPIPE signal"),
  list(code = quote(stop("from code")),
    outcome = "error: from code; warning: ignoring SIGPIPE signal"))
for (case in flush_cases) {
  got <- in_child(bquote({
    before <- list(open_fds(), fd_id(1L))
    p <- th("th_pipe")
    invisible(th("th_close", p[1]))
    warned <- NULL
    outcome <- withCallingHandlers(tryCatch(
      with_stdout(p[2], { th("th_stdio_print", "buffered\n"); .(case$code) }),
      error = function(e) paste("error:", conditionMessage(e))),
      warning = function(w) {
        warned <<- paste("; warning:", conditionMessage(w))
        invokeRestart("muffleWarning")
      })
    list(outcome = paste0(outcome, warned),
      same = identical(before, list(open_fds(), fd_id(1L))))
  }))
  expect_identical(got$value, list(outcome = case$outcome, same = TRUE),
    info = paste(deparse1(case$code), output_of(got)))
}
