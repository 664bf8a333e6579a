# What a scoped reroute costs: with_output_file(), append = TRUE and suppress_output()
# against with_stdout_file(), each around code that does nothing; and what classing the
# system errors of fd_write() would cost a write of one byte, through the handler that
# gives the other functions their classes. Run by `make bench`. One R process;
# candidates interleaved; medians of bench::mark, in microseconds.
suppressPackageStartupMessages(library(client))
source("bench/timing.R")
reps <- if (nzchar(Sys.getenv("BENCH_QUICK"))) 5L else 15L
ns <- asNamespace("client")
log <- tempfile()
null_fd <- .Call(ns$tarnwick_open_append, "/dev/null")
one_byte <- as.raw(0x41)

# fd_write() with its errors classed: the same checks and routine inside raise_as().
fd_write_classed <- compiler::cmpfun(function(fd, data) {
  fd <- as_fd(fd)
  data <- as_bytes(data, "data")
  invisible(raise_as(sys.call(), .Call(tarnwick_write, fd, data), fd = fd))
})
environment(fd_write_classed) <- ns

calls <- list(
  `with_stdout_file()` = function() with_stdout_file(log, NULL),
  `with_stdout_file(append = TRUE)` = function() with_stdout_file(log, NULL, append = TRUE),
  `with_output_file()` = function() with_output_file(log, NULL),
  `with_output_file(append = TRUE)` = function() with_output_file(log, NULL, append = TRUE),
  `suppress_output()` = function() suppress_output(NULL),
  `fd_write(), 1 byte` = function() fd_write(null_fd, one_byte),
  `fd_write(), 1 byte, errors classed` = function() fd_write_classed(null_fd, one_byte))
medians <- median_times(calls, 2^20, reps) * 1e6
base <- c(rep(medians[["with_stdout_file()"]], 5), rep(medians[["fd_write(), 1 byte"]], 2))
cat(sprintf("load average at the start: %s\n", readLines("/proc/loadavg")))
print(data.frame(call = names(medians), median_us = round(medians, 1),
  over_base = round(medians / base, 2), row.names = NULL), row.names = FALSE)
unlink(log)
