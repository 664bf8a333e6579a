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
