# The worst case of large codec calls, made where page faults set the pace: each variant
# of the package in TAIL_N fresh processes (20 by default), variants alternating, one
# encode and one decode of 64 MiB and of 200 MB in each. Prints p50, p90 and max of the
# seconds for each variant, and for the slowest call the kernel's counters that explain
# it. Run with `make bench-tail`, which builds the variants.
# Usage: Rscript bench/tail.R NAME=LIBRARY ...
variants <- do.call(rbind, strsplit(commandArgs(TRUE), "=", fixed = TRUE))
runs <- as.integer(Sys.getenv("TAIL_N", "20"))
sizes <- c("64 MiB" = 2^26, "200 MB" = 2e8)
rscript <- file.path(R.home("bin"), "Rscript")
calls <- list()
previous <- "none"  # the size of the process before
cat(sprintf("load average at the start: %s\n", readLines("/proc/loadavg")))
# Sizes alternate as variants do: a process that comes right after one that freed much
# memory pays to have it backed again (see bench/README.md), and with a fixed order
# that fell on the 64 MiB processes every time.
for (run in seq_len(runs)) {
  for (size_name in if (run %% 2 == 0) rev(names(sizes)) else names(sizes)) {
    order <- if (run %% 2 == 0) rev(seq_len(nrow(variants))) else seq_len(nrow(variants))
    for (v in order) {
      out <- system2(rscript, c("--vanilla", "bench/tail_call.R", variants[v, 2],
        format(sizes[[size_name]], scientific = FALSE)), stdout = TRUE)
      fields <- read.table(text = out, col.names = c("operation", "seconds",
        "thp_fault_alloc", "thp_fault_fallback", "compact_stall", "minor_faults",
        "major_faults"))
      calls[[length(calls) + 1]] <- cbind(variant = variants[v, 1], size = size_name,
        run = run, after = previous, fields)
      previous <- size_name
    }
  }
}
calls <- do.call(rbind, calls)
summary_of <- function(group) {
  slowest <- group[which.max(group$seconds), ]
  data.frame(variant = group$variant[1], size = group$size[1],
    operation = group$operation[1], p50 = median(group$seconds),
    p90 = unname(quantile(group$seconds, 0.9, type = 1)), max = max(group$seconds),
    slowest_thp_alloc = slowest$thp_fault_alloc,
    slowest_thp_fallback = slowest$thp_fault_fallback,
    slowest_compact_stall = slowest$compact_stall,
    slowest_minor_faults = slowest$minor_faults)
}
groups <- split(calls, list(calls$variant, calls$size, calls$operation), drop = TRUE)
table <- do.call(rbind, lapply(groups, summary_of))
table <- table[order(table$size, table$operation, table$variant), ]
options(width = 140)
cat(sprintf("%d processes per variant and size; seconds of one call\n", runs))
print(format(table, digits = 3), row.names = FALSE)
# The median by the size of the process that ran just before.
by_previous <- aggregate(seconds ~ variant + size + operation + after, calls, median)
cat("median seconds by the size of the process before\n")
print(format(by_previous[order(by_previous$size, by_previous$operation,
  by_previous$variant), ], digits = 3), row.names = FALSE)
cat(sprintf("load average at the end: %s\n", readLines("/proc/loadavg")))
