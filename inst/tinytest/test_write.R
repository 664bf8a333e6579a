# One write of a raw vector to a descriptor, by the routine and by fd_write(): counts,
# would-block, errors.
source("helpers.R")
library(client)
load_helper()
wr <- function(fd, bytes) .Call(client:::tarnwick_write, fd, bytes)

## ---- a pipe receives the bytes; an empty vector writes nothing ----
p <- th("th_pipe")
bytes <- as.raw(c(0:255, 0))
expect_identical(wr(p[2], bytes), length(bytes))
expect_identical(th("th_read", p[1], 1000L), bytes)
expect_identical(wr(p[2], raw(0)), 0L)

## ---- non-blocking: a full pipe takes nothing, a roomy one takes what fits ----
th("th_set_nonblocking", p[2])
capacity <- th("th_fill", p[2])
expect_identical(wr(p[2], as.raw(1:10)), 0L)
expect_identical(wr(p[2], raw(100000)), 0L)
drained <- length(th("th_read", p[1], 8192L))
expect_equal(drained, 8192L)
# Longer than PIPE_BUF, so the system may split it: exactly the free room goes in.
expect_identical(wr(p[2], raw(50000)), 8192L)
th("th_close", p[1])
th("th_close", p[2])
expect_true(capacity >= 4096)

## ---- a descriptor that is not open ----
expect_error(wr(p[2], as.raw(1)),
  pattern = as_regex(paste("Cannot write to fd", system_error("EBADF"), "@client:")))
expect_error(wr(-1L, raw(0)), pattern = as_regex(system_error("EBADF")))

## ---- fd_write(): doubles as descriptors, strings as their bytes ----
p <- th("th_pipe")
expect_identical(fd_write(as.numeric(p[2]), "h\u00e9 "), 4L)
expect_identical(fd_write(p[2], as.raw(0:2)), 3L)
expect_identical(fd_write(p[2], c(a = as.raw(7))), 1L)
expect_identical(th("th_read", p[1], 100L), c(charToRaw("h\u00e9 "), as.raw(c(0:2, 7))))
expect_identical(withVisible(fd_write(p[2], raw(0)))$visible, FALSE)
th("th_close", p[1])
th("th_close", p[2])
# The largest descriptor number passes the check; the system then refuses it.
expect_error(fd_write(.Machine$integer.max, raw(0)),
  pattern = as_regex(system_error("EBADF")))

## ---- fd_connection(): R's writers into a descriptor the caller keeps ----
# In a child: a pipe whose reader has gone raises SIGPIPE, which the connection holds
# off so that the write fails as a plain error and R's handler never sees it.
got <- in_child(quote({
  p <- th("th_pipe")
  con <- fd_connection(p[2])
  writeLines(c("one", "two"), con)
  cat("three", 4, "\n", file = con)
  writeBin(as.raw(0:2), con)
  close(con)
  kept_open <- !is.na(th("th_fd_flags", p[2])[1])
  piped <- th("th_read", p[1], 100L)
  # The reader goes: the write fails once, with the system's reason, and then the
  # connection takes nothing more.
  invisible(th("th_close", p[1]))
  con <- fd_connection(p[2])
  broken <- tryCatch({ writeLines("lost", con); "no error" }, error = conditionMessage)
  after <- tryCatch({ writeLines("lost too", con); "no error" }, error = conditionMessage)
  close(con)
  closed <- tryCatch(fd_connection(p[2] + 10L), error = identity)
  list(kept_open = kept_open, piped = piped, broken = broken, after = after,
    closed = list(class(closed)[1], closed$errno, conditionMessage(closed)))
}))
v <- got$value
expect_identical(v[c("kept_open", "piped", "after")], list(kept_open = TRUE,
  piped = c(charToRaw("one\ntwo\nthree 4 \n"), as.raw(0:2)), after = "no error"),
  info = output_of(got))
expect_true(grepl(paste("^Cannot write to fd [0-9]+", as_regex(system_error("EPIPE"))),
  v$broken), info = v$broken)
expect_identical(v$closed[1:2], list("client_system_error", 9L))
expect_true(grepl(paste("^Cannot make a connection onto fd [0-9]+",
  as_regex(system_error("EBADF"))), v$closed[[3]]), info = v$closed[[3]])

## ---- fd_connection(): 100 MB serialized into a non-blocking pipe, read slowly ----
# A reader that sleeps between reads keeps the pipe full: the connection waits for
# room instead of losing what would block.
python <- Sys.which("python3")
if (nzchar(python)) {
  got <- in_child(bquote({
    folder <- tempfile()
    dir.create(folder)
    fifo <- file.path(folder, "fifo")
    received <- file.path(folder, "received")
    system(paste("mkfifo", fifo))
    reader <- paste("import sys, time",
      "src, dst = open(sys.argv[1], 'rb'), open(sys.argv[2], 'wb')",
      "while True:", "    b = src.read(1 << 16)", "    if not b: break",
      "    dst.write(b); time.sleep(0.0005)", "dst.close()",
      "open(sys.argv[2] + '.done', 'w').close()", sep = "\n")
    system(paste(.(python), "-c", shQuote(reader), fifo, received, "&"))
    fd <- .Call(client:::tarnwick_open_append, fifo)
    invisible(th("th_set_nonblocking", fd))
    x <- list(bytes = rep_len(as.raw(0:250), 1e8), tag = "whole")
    con <- fd_connection(fd)
    serialize(x, con)
    close(con)
    invisible(th("th_close", fd))
    for (i in 1:6000) if (file.exists(paste0(received, ".done"))) break else
      Sys.sleep(0.01)
    back <- unserialize(readBin(received, "raw", file.size(received)))
    unlink(folder, recursive = TRUE)
    identical(back, x)
  }))
  expect_true(isTRUE(got$value), info = output_of(got))
} else {
  skip_block("fd_connection() into a slow reader: python3 is not installed")
}
