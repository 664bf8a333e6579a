# split = TRUE: what reaches the file or the capture also reaches, as it is written,
# the stream the descriptor held before. Every case runs in a child R, most with a
# parent of their own (Python, or a shell) that reads the child's streams.
source("helpers.R")
python <- Sys.which("python3")

# Runs `code` in a child R whose standard output and error go to files of their own;
# returns the child's value and what reached each stream.
split_child <- function(code, ...) {
  out <- tempfile()
  err <- tempfile()
  on.exit(unlink(c(out, err)))
  child <- in_child(code, ..., run = function(script) {
    status <- rscript(c("--vanilla", shQuote(script)), stdout = out, stderr = err,
      env = child_env())
    list(status = status, output = character())
  })
  child$stdout <- readLines(out, warn = FALSE)
  child$stderr <- readLines(err, warn = FALSE)
  child$output <- c(child$stdout, child$stderr)
  child
}

# Runs the Python program `parent`, whose arguments start the child (sys.argv[1:3]):
# Rscript and a script of `code`, a quoted expression run with the package attached;
# then `...`. Returns what the parent printed.
python_parent <- function(parent, code, ...) {
  script <- tempfile(fileext = ".R")
  on.exit(unlink(script))
  writeLines(deparse(bquote({
    suppressMessages(library(client))
    .(code)
  })), script)
  system2(python, c("-c", shQuote(parent), shQuote(file.path(R.home("bin"), "Rscript")),
    shQuote(script), shQuote(c(...))), stdout = TRUE, env = child_env())
}

## ---- whole, in order, once: the file or value as without split, and the copy ----
# Each function, with output of R, of child programs, of C code and messages; the
# merged streams go to the earlier standard output, a single stream to its own.
got <- split_child(quote({
  emit <- function(tag) {
    cat("R", tag, "\n")
    system(sprintf("echo child %s; echo child err %s 1>&2", tag, tag))
    fd_write(1, paste("C", tag, "\n"))
    message("message ", tag)
    for (i in 1:200) system(sprintf("echo fork %s %d", tag, i))
  }
  files <- replicate(6, tempfile())
  plain <- function(f, tag) {
    suppressMessages(with_stdout_file(f, with_stderr_file(tempfile(), emit(tag))))
  }
  open_before <- open_fds()
  with_output_file(files[1], emit("merged"), split = TRUE)
  with_output_file(files[2], emit("merged"))
  with_stdout_file(files[3], emit("out"), split = TRUE)
  with_stdout_file(files[4], emit("out"))
  with_stderr_file(files[5], emit("err"), split = TRUE)
  with_stderr_file(files[6], emit("err"))
  captured <- list(capture_output(emit("cap"), split = TRUE), capture_output(emit("cap")),
    capture_stdout(emit("capout"), raw = TRUE, split = TRUE),
    capture_stdout(emit("capout"), raw = TRUE))
  list(files = lapply(files, readLines), captured = captured,
    same_fds = identical(open_before, open_fds()))
}))
v <- got$value
info <- output_of(got)
expect_true(isTRUE(v$same_fds), info = info)
expect_identical(v$files[c(1, 3, 5)], v$files[c(2, 4, 6)], info = info)
expect_identical(v$captured[c(1, 3)], v$captured[c(2, 4)], info = info)
# The earlier streams, call by call: a split call's copy, and what the calls left on
# the stream they did not reroute.
stdout_of <- function(tag) c(paste(c("R", "child", "C"), tag), sprintf("fork %s %d", tag,
  1:200))
stderr_of <- function(tag) paste(c("child err", "message"), tag)
expected_stdout <- c(v$files[[1]], v$files[[3]], stdout_of("err"), stdout_of("err"),
  v$captured[[1]], strsplit(rawToChar(v$captured[[3]]), "\n")[[1]])
expected_stderr <- c(stderr_of("out"), stderr_of("out"), v$files[[5]],
  stderr_of("capout"), stderr_of("capout"))
expect_identical(trimws(got$stdout), trimws(expected_stdout), info = info)
expect_identical(trimws(got$stderr), trimws(expected_stderr), info = info)

## ---- live: a line shows while the code still runs ----
# The child waits, inside the call, until its parent has read the first line from the
# pipe, and only then writes the second: without a live copy the parent never sees the
# first one and the child gives up.
if (nzchar(python)) {
  folder <- tempfile("live-")
  dir.create(folder)
  ack <- file.path(folder, "ack")
  child <- bquote({
    waited <- with_stdout_file(.(file.path(folder, "log")), split = TRUE, {
      system("echo first")
      for (i in 1:3000) if (file.exists(.(ack))) break else Sys.sleep(0.01)
      system("echo second")
      file.exists(.(ack))
    })
    quit(status = if (waited) 0 else 3)
  })
  parent <- paste("import subprocess, sys",
    "p = subprocess.Popen(sys.argv[1:3], stdout=subprocess.PIPE, env=None)",
    "lines = []", "for line in p.stdout:",
    "    lines.append(line.decode().strip())",
    "    if lines[-1] == 'first': open(sys.argv[3], 'w').close()",
    "print(p.wait(), ' '.join(lines))", sep = "\n")
  out <- python_parent(parent, child, ack)
  expect_identical(out, "0 first second")
  expect_identical(readLines(file.path(folder, "log")), c("first", "second"))
  unlink(folder, recursive = TRUE)
} else {
  skip_block("the live copy to a parent: python3 is not installed")
}

## ---- a program that outlives the code writes on into the file, not the stream ----
# It waits for a file that the child creates once the call has returned: a call that
# waited for the program would never return.
got <- split_child(quote({
  f <- tempfile()
  go <- tempfile()
  value <- with_stdout_file(f, split = TRUE, {
    system(sprintf("(while [ ! -e %s ]; do sleep 0.01; done; echo late) &", go))
    system("echo early")
    "returned"
  })
  file.create(go)
  for (i in 1:3000) if ("late" %in% readLines(f)) break else Sys.sleep(0.01)
  list(value = value, file = readLines(f))
}))
expect_identical(got$value, list(value = "returned", file = c("early", "late")),
  info = output_of(got))
expect_true("early" %in% got$stdout && !"late" %in% got$stdout, info = output_of(got))

## ---- a slow reader slows the copy, and loses nothing ----
if (nzchar(python)) {
  child <- quote({
    f <- tempfile()
    with_stdout_file(f, system("head -c 5000000 /dev/zero | tr '\\000' y"),
      split = TRUE)
    quit(status = if (file.size(f) == 5e6) 0 else 3)
  })
  parent <- paste("import subprocess, sys, time",
    "p = subprocess.Popen(sys.argv[1:3], stdout=subprocess.PIPE)", "n = 0",
    "while True:", "    b = p.stdout.read1(4096)", "    if not b: break",
    "    n += b.count(b'y'); time.sleep(0.0002)", "print(p.wait(), n)", sep = "\n")
  out <- python_parent(parent, child)
  expect_identical(out, "0 5000000")
}

## ---- the reader goes away: the code runs on, the file keeps all, one warning ----
if (nzchar(python)) {
  folder <- tempfile("gone-")
  dir.create(folder)
  result <- file.path(folder, "result.rds")
  child <- bquote({
    f <- .(file.path(folder, "log"))
    warned <- character()
    value <- withCallingHandlers(with_output_file(f, split = TRUE, {
      for (i in 1:2000) system(sprintf("echo line %d", i))
      "ran to the end"
    }), warning = function(w) {
      warned <<- c(warned, conditionMessage(w))
      invokeRestart("muffleWarning")
    })
    saveRDS(list(value = value, lines = length(readLines(f)), warned = warned), .(result))
    quit(status = 0)
  })
  parent <- paste("import subprocess, sys",
    "p = subprocess.Popen(sys.argv[1:3], stdout=subprocess.PIPE)",
    "p.stdout.readline()", "p.stdout.close()", "print(p.wait())", sep = "\n")
  status <- python_parent(parent, child)
  got <- if (file.exists(result)) readRDS(result)
  expect_identical(status, "0")
  expect_identical(got[c("value", "lines")], list(value = "ran to the end", lines = 2000L))
  expect_identical(length(got$warned), 1L, info = paste(got$warned, collapse = "; "))
  expect_identical(got$warned[1], paste("the copy to where standard output went before",
    "stopped", system_error("EPIPE")))
  unlink(folder, recursive = TRUE)
}

## ---- errors, nesting and what children inherit ----
got <- split_child(quote({
  f <- replicate(3, tempfile())
  before <- open_fds()
  failed <- tryCatch(with_stdout_file(f[1], split = TRUE, {
    cat("before the error\n")
    stop("boom")
  }), error = conditionMessage)
  # A split call inside another: the inner copy goes into the outer file, the outer
  # copy to the stream.
  with_stdout_file(f[2], split = TRUE, {
    cat("outer\n")
    with_stdout_file(f[3], split = TRUE, cat("inner\n"))
  })
  # Under a user's sink, R's line also goes to the sink, as sink(split = TRUE) does.
  sunk <- tempfile()
  sink(sunk)
  with_stdout_file(f[3], cat("under a sink\n"), split = TRUE, append = TRUE)
  sink()
  # Descriptors opened by the call while code runs are all close-on-exec.
  inherited <- with_output_file(tempfile(), split = TRUE, {
    opened <- setdiff(open_fds(), before)
    opened[!vapply(opened, is_cloexec, NA) & opened > 2L]
  })
  list(failed = failed, files = lapply(f, readLines), sunk = readLines(sunk),
    inherited = inherited, same_fds = identical(before, open_fds()))
}))
expect_identical(got$value, list(failed = "boom", files = list("before the error",
  c("outer", "inner"), c("inner", "under a sink")), sunk = "under a sink",
  inherited = integer(), same_fds = TRUE), info = output_of(got))
expect_identical(trimws(got$stdout), c("before the error", "outer", "inner",
  "under a sink"), info = output_of(got))

## ---- a copy that cannot start is refused before anything changes ----
# With no descriptor left, the duplicate for the copy cannot be made.
got <- in_child(quote({
  f <- tempfile()
  with_stdout_file(tempfile(), NULL, split = TRUE)  # R loads what the call needs
  invisible(th("th_set_fd_limit", 64L))
  held <- th("th_exhaust_fds")
  message <- tryCatch(with_stdout_file(f, cat("ran\n"), split = TRUE),
    error = conditionMessage)
  for (fd in held) th("th_close", fd)
  list(message = message, created = file.exists(f))
}))
expect_true(startsWith(got$value$message, paste("Cannot copy stdout",
  system_error("EMFILE"))), info = got$value$message)
expect_false(got$value$created)

## ---- 50 MB from a child program, on the stream and in the file ----
if (long_tests()) {
  got <- split_child(quote({
    f <- tempfile()
    with_stdout_file(f, system("head -c 50000000 /dev/zero | tr '\\000' x"),
      split = TRUE)
    size <- file.size(f)
    unlink(f)
    size
  }))
  expect_identical(got$value, 5e7)
  expect_equal(sum(nchar(got$stdout)), 5e7)
} else {
  skip_block(long_test_skipped("50 MB through a split call"))
}
