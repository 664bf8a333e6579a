# Capturing output as lines or bytes. Every case runs in a child R process.
source("helpers.R")

## ---- who prints: R, C through stdio and a child program, for each function ----
# C's line to standard output waits in stdio's buffer until system() flushes it.
got <- in_child(quote({
  out <- function(tag) {
    cat(tag, "R\n")
    th("th_stdio_print", paste(tag, "C\n"))
    system(paste("echo", tag, "child"))
  }
  err <- function(tag) {
    message(tag, " R")
    th("th_stdio_print_stderr", paste(tag, "C\n"))
    system(paste("echo", tag, "child 1>&2"))
  }
  list(stdout = capture_stdout(out("o")), stderr = capture_stderr(err("e")),
    output = capture_output({ out("o"); err("e") }))
}))
expect_identical(got$value, list(stdout = c("o R", "o C", "o child"),
  stderr = c("e R", "e C", "e child"),
  output = c("o R", "o C", "o child", "e R", "e C", "e child")),
  info = paste(got$output, collapse = "\n"))

## ---- content: order, a last line without its end, nothing, exact bytes ----
bytes <- as.raw(c(0x00, 0xff, 0x0a, 0xc3, 0x28, 0x00))
got <- in_child(bquote({
  list(
    merged = capture_output({
      cat("1\n"); fd_write(2, "2\n"); system("echo 3; echo 4 1>&2"); message("5")
      fd_write(1, "6")
    }),
    visible = capture_stdout(1:3), invisible = capture_stdout(invisible(1:3)),
    nothing = capture_stderr(invisible(NULL)), nothing_raw = capture_stdout(invisible(NULL), raw = TRUE),
    raw = capture_stdout(fd_write(1, .(bytes)), raw = TRUE),
    raw_err = capture_output(fd_write(2, .(bytes)), raw = TRUE),
    invalid_utf8 = capture_stdout(fd_write(1, as.raw(c(0x61, 0xff, 0x0a)))),
    # Lines with a NUL byte end at it, as readLines() ends them, with one warning; they
    # were once cut without a word.
    nul = tryCatch(capture_stdout(fd_write(1, as.raw(c(0x61, 0, 0x62, 0x0a, 0x63, 0,
      0x0a)))), warning = conditionMessage),
    nul_lines = suppressWarnings(capture_stdout(fd_write(1, as.raw(c(0x61, 0, 0x62,
      0x0a, 0x63, 0x0a))))))
}))
expect_identical(got$value, list(merged = as.character(1:6), visible = "[1] 1 2 3",
  invisible = character(), nothing = character(), nothing_raw = raw(),
  raw = bytes, raw_err = bytes, invalid_utf8 = rawToChar(as.raw(c(0x61, 0xff))),
  nul = paste("captured output holds a NUL byte, which a string cannot hold: its line",
    "ends there (raw = TRUE returns every byte)"), nul_lines = c("a", "c")),
  info = paste(got$output, collapse = "\n"))

## ---- C's buffer is flushed at both ends; captures nest with each other and with_*() ----
inner_file <- tempfile()
got <- in_child(bquote({
  th("th_stdio_print", "before\n")  # left in stdio's buffer: not for the capture
  outer <- capture_stdout({
    cat("outer 1\n")
    inner <- capture_stdout(cat("inner\n"))
    with_stdout_file(.(inner_file), cat("in a file\n"))
    cat("outer 2\n")
    invisible(inner)
  })
  in_with <- NULL
  with_stdout_file(.(inner_file), {
    cat("file 1\n")
    in_with <- capture_stdout(cat("captured\n"))
    cat("file 2\n")
  })
  list(outer = outer, inner = inner, in_with = in_with)
}))
expect_identical(got$value, list(outer = c("outer 1", "outer 2"), inner = "inner",
  in_with = "captured"), info = paste(got$output, collapse = "\n"))
expect_identical(readLines(inner_file), c("file 1", "file 2"))
expect_true("before" %in% got$output)
unlink(inner_file)

## ---- code that fails: streams back, its output replayed first, no file left ----
failures <- list(
  list(call = quote(capture_stdout({ cat("out before\n"); stop("boom") })),
    replayed = "out before"),
  list(call = quote(capture_stderr({ message("err before"); stop("boom") })),
    replayed = "err before"),
  list(call = quote(capture_output({ cat("out\n"); message("err"); stop("boom") })),
    replayed = c("out", "err")))
for (case in failures) {
  got <- in_child(bquote({
    before <- list(open_fds(), fd_id(1L), fd_id(2L), dir(tempdir()))
    msg <- tryCatch(.(case$call), error = conditionMessage)
    list(message = msg, same = identical(before,
      list(open_fds(), fd_id(1L), fd_id(2L), dir(tempdir()))))
  }))
  info <- paste(deparse1(case$call), paste(got$output, collapse = "\n"))
  expect_identical(got$value, list(message = "boom", same = TRUE), info = info)
  expect_true(all(case$replayed %in% got$output), info = info)
}

## ---- an error left to the top level is printed on the real standard error ----
# R prints the message before it unwinds; a put-back in on.exit() left it in the file
# and the console showed only "Execution halted".
log <- tempfile()
top_level <- list(
  list(code = bquote(with_stderr_file(.(log), stop("boom"))),
    shown = "Error in with_stderr_file(.+) :\\s+boom"),
  list(code = bquote({ options(warn = 2); with_stderr_file(.(log), warning("w")) }),
    shown = "Error in with_stderr_file(.+) :\\s+\\(converted from warning\\) w"),
  list(code = quote(capture_stderr({ message("printed first"); stop("boom") })),
    shown = "Error in capture_stderr(.+) :\\s+boom"))
for (case in top_level) {
  got <- in_child(case$code)
  info <- paste(deparse1(case$code), paste(got$output, collapse = "\n"))
  expect_true(got$status != 0 && grepl(case$shown, paste(got$output, collapse = "\n")),
    info = info)
  if (file.exists(log)) expect_identical(readLines(log), character(), info = info)
  unlink(log)
}
shown <- got$output
expect_true(isTRUE(which(shown == "printed first") < grep("^Error in", shown)[1]),
  info = paste(shown, collapse = "\n"))

## ---- a closed stream is refused before the code runs ----
got <- in_child(quote({
  invisible(th("th_close", 1L))
  tryCatch(capture_stdout(message("ran")), error = conditionMessage)
}))
expect_true(startsWith(got$value, paste("Cannot reroute stdout", system_error("EBADF"))),
  info = paste(got$output, collapse = "\n"))
expect_false("ran" %in% got$output)

## ---- a capture of 100 MB from a child program ----
if (long_tests()) {
  got <- in_child(quote({
    bytes <- capture_stdout(system("head -c 100000000 /dev/zero | tr '\\0' x"),
      raw = TRUE)
    c(length(bytes), sum(bytes != as.raw(0x78)))
  }))
  expect_equal(got$value, c(1e8, 0), info = paste(got$output, collapse = "\n"))
} else {
  skip_block(long_test_skipped("a capture of 100 MB"))
}
