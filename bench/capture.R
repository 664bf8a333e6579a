# Capturing output: capture_stdout() against capture.output() on lines that R prints,
# and against the shell writing to a file and readBin() reading it back on bytes that
# a child program prints; with the peak memory R used for each capture. Run by
# `make bench`; BENCH_QUICK=1 takes 100 MB instead of 1 GB and fewer rounds. One R
# process, candidates interleaved, medians of elapsed seconds.
suppressPackageStartupMessages(library(client))
quick <- nzchar(Sys.getenv("BENCH_QUICK"))
rounds <- if (quick) 3L else 5L
child_bytes <- if (quick) 1e8 else 1e9
lines <- 1e5

# Times each function of `calls` in `rounds` rounds, in rotation; medians in seconds.
median_seconds <- function(calls) {
  times <- matrix(NA_real_, rounds, length(calls), dimnames = list(NULL, names(calls)))
  for (r in seq_len(rounds)) {
    for (name in names(calls)[(seq_along(calls) + r - 2) %% length(calls) + 1]) {
      invisible(gc())
      times[r, name] <- system.time(calls[[name]]())[["elapsed"]]
    }
  }
  apply(times, 2, median)
}

# The most memory R held for vectors while `f` ran, in MB, less what it held before.
peak_mb <- function(f) {
  before <- gc(reset = TRUE)[2, 2]
  result <- f()
  after <- gc()[2, 6]
  rm(result)
  after - before
}

print_lines <- function() for (i in seq_len(lines)) cat("line", i, "of the output\n")
stopifnot(identical(capture_stdout(print_lines()), capture.output(print_lines())))

program <- sprintf("head -c %.0f /dev/zero", child_bytes)
file <- tempfile()
shell_then_readBin <- function() {
  system(paste(program, ">", file))
  on.exit(unlink(file))
  readBin(file, "raw", n = file.size(file))
}
capture_child <- function() capture_stdout(system(program), raw = TRUE)
stopifnot(length(capture_child()) == child_bytes)

cat(sprintf("load average at the start: %s\n", readLines("/proc/loadavg")))
text <- median_seconds(list(capture_stdout = function() capture_stdout(print_lines()),
  capture.output = function() capture.output(print_lines())))
bytes <- median_seconds(list(capture_stdout = capture_child,
  `shell, readBin` = shell_then_readBin))
rows <- data.frame(
  case = c(rep(sprintf("%.0f lines by cat()", lines), 2),
    rep(sprintf("%.0f MB by a child program", child_bytes / 1e6), 2)),
  call = c(names(text), names(bytes)),
  median_s = c(text, bytes),
  ratio_to_peer = c(text / text[["capture.output"]], bytes / bytes[["shell, readBin"]]),
  peak_mb = c(peak_mb(function() capture_stdout(print_lines())),
    peak_mb(function() capture.output(print_lines())), peak_mb(capture_child),
    peak_mb(shell_then_readBin)))
print(format(rows, digits = 3), row.names = FALSE)
