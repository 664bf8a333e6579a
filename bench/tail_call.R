# One process of `make bench-tail`: with the package from LIBRARY, times one encode and
# one decode of SIZE bytes, each the first call of its kind in this fresh process, and
# prints a line per call: operation, seconds, and the changes of the kernel's counters
# that explain a slow call (huge pages granted and refused, compaction stalls), and the
# process's own page faults.
# Usage: Rscript bench/tail_call.R LIBRARY SIZE
args <- commandArgs(TRUE)
library(client, lib.loc = args[1])
size <- as.numeric(args[2])
counters <- c("thp_fault_alloc", "thp_fault_fallback", "compact_stall")
vmstat <- function() {
  lines <- strsplit(readLines("/proc/vmstat"), " ")
  values <- setNames(as.numeric(vapply(lines, `[`, "", 2)), vapply(lines, `[`, "", 1))
  values[counters]
}
faults <- function() {
  stat <- strsplit(sub(".*\\) ", "", readLines("/proc/self/stat")), " ")[[1]]
  c(minor = as.numeric(stat[8]), major = as.numeric(stat[10]))
}
set.seed(1)
bytes <- as.raw(sample(0:255, size, replace = TRUE))
text <- .Call(client:::tarnwick_base64_encode, bytes[seq_len(size * 3 / 4)])
invisible(gc())
timed <- function(operation, f) {
  before <- c(vmstat(), faults())
  seconds <- system.time(f())[["elapsed"]]
  change <- c(vmstat(), faults()) - before
  cat(operation, seconds, change, "\n")
}
timed("encode", function() .Call(client:::tarnwick_base64_encode, bytes))
timed("decode", function() .Call(client:::tarnwick_base64_decode, text))
