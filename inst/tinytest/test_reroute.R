# Rerouting descriptors 1 and 2 through the routines. Every case runs in a child R
# process; failures of system calls are in test_faults.R.
source("helpers.R")
out_file <- tempfile()
err_file <- tempfile()

## ---- to a file and back: R, C and child output all land in it ----
got <- in_child(bquote({
  saved <- .Call(client:::tarnwick_set_stdout_to_file, .(out_file))
  cat("from R\n")
  system("echo from a child program")
  .Call(client:::tarnwick_write, 1L, charToRaw("from C\n"))
  flags <- c(saved = is_cloexec(saved), rerouted = is_cloexec(1L))
  back <- .Call(client:::tarnwick_set_stdout, saved, TRUE)
  list(back = is.null(back), saved = is.integer(saved) && saved > 2L,
    closed = !(saved %in% open_fds()), cloexec = c(flags, restored = is_cloexec(1L)))
}))
expect_identical(got$value, list(back = TRUE, saved = TRUE, closed = TRUE,
  cloexec = c(saved = TRUE, rerouted = FALSE, restored = FALSE)), info = output_of(got))
expect_equal(readLines(out_file), c("from R", "from a child program", "from C"))
expect_equal(file.info(out_file)$mode, as.octmode(bitwAnd(0x1A4, bitwNot(Sys.umask()))))

## ---- standard error too; an existing file is emptied first ----
writeLines(strrep("old content ", 50), err_file)
got <- in_child(bquote({
  saved <- .Call(client:::tarnwick_set_stderr_to_file, c(.(err_file), "ignored"))
  message("to stderr")
  system("echo child err 1>&2")
  invisible(.Call(client:::tarnwick_set_stderr, saved, TRUE))
  message("back on stderr")
}))
expect_equal(readLines(err_file), c("to stderr", "child err"))
expect_true("back on stderr" %in% got$output, info = output_of(got))

## ---- to a descriptor: drop flag, NA as true, the replacement consumed ----
got <- in_child(quote({
  p <- th("th_pipe")
  kept <- .Call(client:::tarnwick_set_stdout, p[2], FALSE)
  cat("into the pipe\n")
  cloexec <- c(kept = is_cloexec(kept), rerouted = is_cloexec(1L))
  dropped <- .Call(client:::tarnwick_set_stdout, kept, NA)
  list(dropped = is.null(dropped), cloexec = cloexec,
    consumed = !(c(p[2], kept) %in% open_fds()),
    piped = rawToChar(th("th_read", p[1], 100L)))
}))
expect_identical(got$value, list(dropped = TRUE,
  cloexec = c(kept = TRUE, rerouted = FALSE), consumed = c(TRUE, TRUE),
  piped = "into the pipe\n"), info = output_of(got))

## ---- a stream rerouted to its own descriptor stays open ----
got <- in_child(quote({
  saved <- .Call(client:::tarnwick_set_stdout, 1L, FALSE)
  self <- c(is.integer(saved), saved %in% open_fds(), 1L %in% open_fds())
  invisible(.Call(client:::tarnwick_set_stdout, 1L, TRUE))
  list(self = self, still = 1L %in% open_fds())
}))
expect_identical(got$value, list(self = rep(TRUE, 3), still = TRUE), info = output_of(got))

## ---- to a file while the target is closed: refused, the file left alone ----
# open() would return the target's own number: the file became stdout for good, and the
# "saved" duplicate was one of the file, so putting stdout back kept it there.
never_made <- tempfile()
got <- in_child(bquote({
  invisible(th("th_close", 1L))
  messages <- c(
    tryCatch(.Call(client:::tarnwick_set_stdout_to_file, .(never_made)),
      error = conditionMessage),
    tryCatch(with_stdout_file(.(never_made), message("ran")),
      error = conditionMessage))
  list(refused = startsWith(messages, .(paste("Cannot reroute stdout",
    system_error("EBADF")))),
    named = grepl("(tarnwick_set_stdout_to_file)", messages, fixed = TRUE),
    still_closed = !(1L %in% open_fds()))
}))
expect_identical(got$value, list(refused = c(TRUE, TRUE), named = c(TRUE, TRUE),
  still_closed = TRUE), info = output_of(got))
expect_false(file.exists(never_made))
expect_false("ran" %in% got$output)
unlink(c(out_file, err_file))
